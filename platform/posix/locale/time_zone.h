// A Windows time zone as the registry keeps it (TimeZoneInformation, and the
// zone's TZI and Dynamic DST years under Time Zones), and local times converted
// to UTC by its rules the way Windows converts them: each year by its own rule,
// the rule's dates in day-of-week form ("week 5" the last such weekday) or as
// absolute dates, southern zones whose daylight time spans the new year, and the
// repeated and missing hour at each change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A SYSTEMTIME as a rule stores it: 16 bytes, little-endian words.
struct TZDATE {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// One rule (REG_TZI_FORMAT): UTC = local time + bias, in minutes.
struct TZRULE {
    int32_t nBias = 0;
    int32_t nStandardBias = 0;
    int32_t nDaylightBias = 0;
    TZDATE standardDate;  // when daylight time ends, in local daylight time
    TZDATE daylightDate;  // when it begins, in local standard time
};

struct TIMEZONE {
    std::string strKeyName;      // UTF-8: "Pacific Standard Time"
    TZRULE rule;                 // the system's own, for years without a rule of their own
    int nFirstYear = 0;          // Dynamic DST: the years aYears holds, first to last
    std::vector<TZRULE> aYears;  // empty: no Dynamic DST, or it is disabled
};

// A REG_TZI_FORMAT value (44 bytes) and a SYSTEMTIME value (16 bytes); false for
// any other size.
bool ReadTziValue(std::string_view strBytes, TZRULE& rule);
bool ReadTzDate(std::string_view strBytes, TZDATE& date);

// The bias that turns a local time of the zone into UTC (minutes to add), by the
// rule of the local time's year (a year outside the Dynamic DST years takes the
// nearest). False when the rule is one Windows rejects (a daylight date without a
// standard date, or a week number outside 1 to 5); the time is then not converted.
bool LocalBias(const TIMEZONE& zone, int nYear, int nMonth, int nDay, int nHour, int nMinute,
               int nSecond, int64_t& nBias);
