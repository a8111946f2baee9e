// Dates and times of day, and their count in minutes, for moving a time by an
// offset.
#pragma once

// A date and time of day: month 1 to 12.
struct DATETIME {
    int nYear;
    int nMonth;
    int nDay;
    int nHour;
    int nMinute;
    int nSecond;
};

// Minutes since 1 January of year 0 of the proleptic Gregorian calendar (the
// seconds are not counted).
long long MinutesOf(const DATETIME& time);
// The date and time nMinutes after that start, with nSecond as its seconds.
DATETIME DateTimeOfMinutes(long long nMinutes, int nSecond);
// The days of a month (1 to 12) of the Gregorian calendar.
int DaysInMonth(int nYear, int nMonth);
