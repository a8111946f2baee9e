// Local times to UTC by a Windows time zone's rules, computed as Windows computes
// them (TzSpecificLocalTimeToSystemTime with the year's rule from
// GetTimeZoneInformationForYear).
#include "platform/posix/locale/time_zone.h"

#include <cstring>

#include "common/clock.h"

namespace {

constexpr std::size_t kTzDateSize = 16;
constexpr std::size_t kTziSize = 12 + 2 * kTzDateSize;

uint16_t Word(const char* p)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}

int32_t Long(const char* p)
{
    uint32_t dwValue = 0;
    for (int i = 3; i >= 0; --i)
        dwValue = dwValue << 8 | static_cast<unsigned char>(p[i]);
    return static_cast<int32_t>(dwValue);
}

// 0 for Sunday, as SYSTEMTIME counts weekdays.
int DayOfWeek(int nYear, int nMonth, int nDay)
{
    static constexpr int anOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (nMonth < 3)
        --nYear;
    return (nYear + nYear / 4 - nYear / 100 + nYear / 400 + anOffsets[nMonth - 1] + nDay) % 7;
}

struct LOCAL {
    int nYear, nMonth, nDay, nHour, nMinute, nSecond;
};

// Where a local time stands against a rule's date in its year: negative before it,
// zero or positive at or after it. A day-of-week date is the wDay-th wDayOfWeek of
// its month (5: the last); its seconds are not counted, as Windows does not.
long CompareToRuleDate(const LOCAL& local, const TZDATE& date)
{
    if (local.nMonth != date.wMonth)
        return local.nMonth < date.wMonth ? -1 : 1;
    long nLimitDay = date.wDay;
    if (date.wYear == 0) {
        const int nFirst = (6 + date.wDayOfWeek - DayOfWeek(local.nYear, local.nMonth, local.nDay) + local.nDay) % 7 + 1;
        nLimitDay = nFirst + 7L * (date.wDay - 1);
        if (nLimitDay > DaysInMonth(local.nYear, local.nMonth))
            nLimitDay -= 7;
    }
    const long nLimit = ((nLimitDay * 24 + date.wHour) * 60 + date.wMinute) * 60;
    const long nTime = ((local.nDay * 24L + local.nHour) * 60 + local.nMinute) * 60 + local.nSecond;
    return nTime - nLimit;
}

const TZRULE& RuleOfYear(const TIMEZONE& zone, int nYear)
{
    if (zone.aYears.empty())
        return zone.rule;
    const long nIndex = static_cast<long>(nYear) - zone.nFirstYear;
    const long nLast = static_cast<long>(zone.aYears.size()) - 1;
    return zone.aYears[static_cast<std::size_t>(nIndex < 0 ? 0 : nIndex > nLast ? nLast : nIndex)];
}

}  // namespace

bool ReadTzDate(std::string_view strBytes, TZDATE& date)
{
    if (strBytes.size() != kTzDateSize)
        return false;
    uint16_t* const apwParts[] = {&date.wYear, &date.wMonth,  &date.wDayOfWeek, &date.wDay,
                                  &date.wHour, &date.wMinute, &date.wSecond,    &date.wMilliseconds};
    for (std::size_t i = 0; i < 8; ++i)
        *apwParts[i] = Word(strBytes.data() + 2 * i);
    return true;
}

bool ReadTziValue(std::string_view strBytes, TZRULE& rule)
{
    if (strBytes.size() != kTziSize)
        return false;
    rule.nBias = Long(strBytes.data());
    rule.nStandardBias = Long(strBytes.data() + 4);
    rule.nDaylightBias = Long(strBytes.data() + 8);
    return ReadTzDate(strBytes.substr(12, kTzDateSize), rule.standardDate) &&
           ReadTzDate(strBytes.substr(12 + kTzDateSize, kTzDateSize), rule.daylightDate);
}

bool LocalBias(const TIMEZONE& zone, int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
               int64_t& nBias)
{
    const TZRULE& rule = RuleOfYear(zone, nYear);
    if (rule.daylightDate.wMonth == 0) {  // no daylight time that year
        nBias = rule.nBias;
        return true;
    }
    const TZDATE& standard = rule.standardDate;
    const TZDATE& daylight = rule.daylightDate;
    if (standard.wMonth == 0 ||
        (standard.wYear == 0 && (standard.wDay < 1 || standard.wDay > 5 || daylight.wDay < 1 || daylight.wDay > 5)))
        return false;
    const LOCAL local{nYear, nMonth, nDay, nHour, nMinute, nSecond};
    const bool bBeforeStandard = CompareToRuleDate(local, standard) < 0;
    const bool bAfterDaylight = CompareToRuleDate(local, daylight) >= 0;
    // North of the equator daylight time lies between the two dates; south of it,
    // across the new year.
    const bool bDaylight = daylight.wMonth < standard.wMonth ? bBeforeStandard && bAfterDaylight
                                                             : bBeforeStandard || bAfterDaylight;
    nBias = static_cast<int64_t>(rule.nBias) + (bDaylight ? rule.nDaylightBias : rule.nStandardBias);
    return true;
}
