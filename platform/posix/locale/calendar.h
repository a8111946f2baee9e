// A Gregorian date in the calendars Windows writes short dates in (a system's
// "iCalendarType"): the pure piece behind the date's numbers, as Windows' calendar
// definitions count them.
#pragma once

#include <string>

// The calendar types of Windows (CAL_GREGORIAN and the others).
enum CalendarType {
    kCalendarGregorian = 1,
    kCalendarJapanese = 3,
    kCalendarTaiwan = 4,
    kCalendarKorean = 5,
    kCalendarHijri = 6,
    kCalendarThai = 7,
    kCalendarHebrew = 8,
    kCalendarPersian = 22,
    kCalendarUmAlQura = 23,
};

struct CALENDARDATE {
    int nYear = 0;
    int nMonth = 0;  // from 1; the Hebrew year's counted from Tishri, Adar II the 7th of a leap year
    int nDay = 0;
    std::u16string strEra;  // the era's name where the calendar has eras (Japanese)
};

// The Gregorian date nYear-nMonth-nDay in calendar nCalendar; nHijriAdjustment days
// (-2 to 2) are added first in the Hijri calendar, as Windows' "AddHijriDate" asks.
// A type Windows does not define is the Gregorian calendar. False for a date
// outside the range Windows supports for the calendar (Taiwan before 1912, Um
// Al-Qura outside its table, ...).
bool ToCalendar(int nCalendar, int nHijriAdjustment, int nYear, int nMonth, int nDay, CALENDARDATE& date);

// The Hijri adjustment of an "AddHijriDate" setting: "AddHijriDate" alone is -1,
// "AddHijriDate+1" or "AddHijriDate-2" that many days (from -2 to 2), anything else 0.
int HijriAdjustment(const std::u16string& strSetting);
