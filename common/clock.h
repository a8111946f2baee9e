// Dates and times of day counted in minutes, for moving a time by an offset.
#pragma once

#include "platform/platform.h"

// Minutes since 1 January of year 0 of the proleptic Gregorian calendar (the
// seconds are not counted).
long long MinutesOf(const plat::DATETIME& time);
// The date and time nMinutes after that start, with nSecond as its seconds.
plat::DATETIME DateTimeOfMinutes(long long nMinutes, int nSecond);
// The days of a month (1 to 12) of the Gregorian calendar.
int DaysInMonth(int nYear, int nMonth);
