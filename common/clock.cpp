// Civil dates to day numbers and back (the proleptic Gregorian calendar).
#include "common/clock.h"

namespace {

long long DaysOf(long long nYear, int nMonth, int nDay)
{
    nYear -= nMonth <= 2;
    const long long nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
    const long long nYearOfEra = nYear - nEra * 400;
    const long long nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    return nEra * 146097 + nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
}

}  // namespace

long long MinutesOf(const DATETIME& time)
{
    return (DaysOf(time.nYear, time.nMonth, time.nDay) * 24 + time.nHour) * 60 + time.nMinute;
}

int DaysInMonth(int nYear, int nMonth)
{
    static constexpr int anDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool bLeap = nYear % 4 == 0 && (nYear % 100 != 0 || nYear % 400 == 0);
    return anDays[nMonth - 1] + (nMonth == 2 && bLeap ? 1 : 0);
}

DATETIME DateTimeOfMinutes(long long nMinutes, int nSecond)
{
    long long nDays = nMinutes >= 0 ? nMinutes / 1440 : -((-nMinutes + 1439) / 1440);
    const long long nMinuteOfDay = nMinutes - nDays * 1440;
    const long long nEra = (nDays >= 0 ? nDays : nDays - 146096) / 146097;
    const long long nDayOfEra = nDays - nEra * 146097;
    const long long nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const long long nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const long long nMonthIndex = (5 * nDayOfYear + 2) / 153;
    const int nMonth = static_cast<int>(nMonthIndex < 10 ? nMonthIndex + 3 : nMonthIndex - 9);
    const long long nYear = nYearOfEra + nEra * 400 + (nMonth <= 2);
    DATETIME time;
    time.nYear = static_cast<int>(nYear);
    time.nMonth = nMonth;
    time.nDay = static_cast<int>(nDayOfYear - (153 * nMonthIndex + 2) / 5 + 1);
    time.nHour = static_cast<int>(nMinuteOfDay / 60);
    time.nMinute = static_cast<int>(nMinuteOfDay % 60);
    time.nSecond = nSecond;
    return time;
}
