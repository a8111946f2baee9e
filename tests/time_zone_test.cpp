// Local times to UTC by Windows time zone rules: the POSIX layer's conversion
// against the table Windows' own conversion made under Wine (tools/tz_table.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "common/clock.h"
#include "platform/posix/locale/time_zone.h"

namespace {

std::string FromHex(const std::string& strHex)
{
    std::string strBytes;
    for (std::size_t i = 0; i + 1 < strHex.size(); i += 2)
        strBytes += static_cast<char>(std::stoi(strHex.substr(i, 2), nullptr, 16));
    return strBytes;
}

bool ReadClock(const std::string& strText, DATETIME& clock)
{
    return std::sscanf(strText.c_str(), "%d-%d-%dT%d:%d:%d", &clock.nYear, &clock.nMonth, &clock.nDay,
                       &clock.nHour, &clock.nMinute, &clock.nSecond) == 6;
}

}  // namespace

// Wine's GetTimeZoneInformationForYear gives a year before the zone's first
// Dynamic DST year the zone's TZI, where Windows takes the first year's rule (a
// US log of 1995 then has the pre-2007 rule): for those years the table is checked
// against the TZI, and the rows where Wine's answer differs from Windows' are
// counted.
TEST(TimeZone, AsWindowsConvertsUnderWine)
{
    std::ifstream file(VH_SOURCE_DIR "/tests/data/time_zones.tsv");
    ASSERT_TRUE(file);
    std::map<std::string, TIMEZONE> zones;
    std::string strLine;
    int nRows = 0, nFailures = 0, nWineDifferences = 0;
    while (std::getline(file, strLine)) {
        std::istringstream fields(strLine);
        std::string strFirst, strSecond, strThird;
        std::getline(fields, strFirst, '\t');
        std::getline(fields, strSecond, '\t');
        std::getline(fields, strThird, '\t');
        if (strFirst == "zone") {
            TIMEZONE& zone = zones[strSecond];
            ASSERT_TRUE(ReadTziValue(FromHex(strThird), zone.rule)) << strSecond;
            std::string strFirstYear, strYears, strYear;
            std::getline(fields, strFirstYear, '\t');
            std::getline(fields, strYears, '\t');
            zone.nFirstYear = std::stoi(strFirstYear);
            std::istringstream years(strYears);
            while (std::getline(years, strYear, ',')) {
                zone.aYears.emplace_back();
                ASSERT_TRUE(ReadTziValue(FromHex(strYear), zone.aYears.back())) << strSecond;
            }
            continue;
        }
        ++nRows;
        DATETIME local{}, utc{};
        ASSERT_TRUE(ReadClock(strSecond, local)) << strLine;
        const TIMEZONE& zone = zones.at(strFirst);
        TIMEZONE tziAlone;
        tziAlone.rule = zone.rule;
        const bool bWineDiffers = !zone.aYears.empty() && local.nYear < zone.nFirstYear;
        int64_t nBias = 0, nWindowsBias = 0;
        if (bWineDiffers && LocalBias(zone, local.nYear, local.nMonth, local.nDay, local.nHour, local.nMinute,
                                      local.nSecond, nWindowsBias) &&
            LocalBias(tziAlone, local.nYear, local.nMonth, local.nDay, local.nHour, local.nMinute, local.nSecond,
                      nBias) &&
            nBias != nWindowsBias)
            ++nWineDifferences;
        const bool bConverted = LocalBias(bWineDiffers ? tziAlone : zone, local.nYear, local.nMonth, local.nDay, local.nHour,
                                          local.nMinute, local.nSecond, nBias);
        const bool bExpected = ReadClock(strThird, utc);
        if (bConverted != bExpected || (bExpected && MinutesOf(local) + nBias != MinutesOf(utc))) {
            if (++nFailures <= 10)
                ADD_FAILURE() << strLine << ": bias " << nBias << (bConverted ? "" : " (not converted)");
        }
    }
    EXPECT_GT(nRows, 10000);
    EXPECT_EQ(nFailures, 0) << "of " << nRows << " rows";
    std::printf("%d of %d rows: Wine takes the TZI before the first Dynamic DST year\n", nWineDifferences, nRows);
    EXPECT_GT(nWineDifferences, 0);
}

// Rules Windows rejects, and the years without a rule of their own.
TEST(TimeZone, RulesAndYears)
{
    const TZDATE kNovember{0, 11, 0, 1, 2, 0, 0, 0};  // first Sunday of November, 2:00
    const TZDATE kMarch{0, 3, 0, 2, 2, 0, 0, 0};      // second Sunday of March, 2:00
    const TZDATE kOctober{0, 10, 0, 5, 2, 0, 0, 0};   // last Sunday of October
    const TZDATE kApril{0, 4, 0, 1, 2, 0, 0, 0};      // first Sunday of April
    const TZRULE kUs2007{480, 0, -60, kNovember, kMarch};
    const TZRULE kUs2006{480, 0, -60, kOctober, kApril};
    const struct {
        const char* szName;
        TZRULE rule;
        bool bConverts;
    } aRules[] = {
        {"no daylight date: the bias alone", {330, 99, -60, {}, {}}, true},
        {"a daylight date without a standard date", {480, 0, -60, {}, kMarch}, false},
        {"week 6", {480, 0, -60, kNovember, {0, 3, 0, 6, 2, 0, 0, 0}}, false},
        {"week 0", {480, 0, -60, {0, 11, 0, 0, 2, 0, 0, 0}, kMarch}, false},
        {"absolute dates take any day", {480, 0, -60, {2001, 11, 0, 9, 2, 0, 0, 0}, {2001, 3, 0, 9, 2, 0, 0, 0}}, true},
    };
    for (const auto& test : aRules) {
        TIMEZONE zone;
        zone.rule = test.rule;
        int64_t nBias = 0;
        EXPECT_EQ(LocalBias(zone, 2001, 7, 1, 12, 0, 0, nBias), test.bConverts) << test.szName;
    }
    TZRULE rule;
    EXPECT_FALSE(ReadTziValue(std::string(43, '\0'), rule));

    // A year outside the Dynamic DST years takes the nearest one's rule.
    TIMEZONE us;
    us.rule = kUs2007;
    us.nFirstYear = 2006;
    us.aYears = {kUs2006, kUs2007};
    const struct {
        int nYear;
        int32_t nBias;
    } aYears[] = {{1995, 480}, {2006, 480}, {2007, 420}, {2035, 420}};
    for (const auto& test : aYears) {
        int64_t nBias = 0;
        EXPECT_TRUE(LocalBias(us, test.nYear, 3, 20, 12, 0, 0, nBias));
        EXPECT_EQ(nBias, test.nBias) << test.nYear << "-03-20";
    }
}
