// The real platform layer of this build: the short date everywhere, and on POSIX
// the Wine prefix reader (registry file, paths, wildcards, search order).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

TEST(ShortDate, DateAloneInTheSystemLocale)
{
    std::string strDate;
    plat::FormatShortDate(2001, 12, 25, 23, 59, 59, strDate);
    if (const char* szExpected = std::getenv("VH_EXPECTED_DATE")) {
        EXPECT_EQ(strDate, szExpected);
    }
    EXPECT_NE(strDate.find("25"), std::string::npos) << strDate;
    EXPECT_EQ(strDate.find("59"), std::string::npos) << strDate;  // no time of day
    EXPECT_EQ(FormatLogDate(LOGTIME{31, 11, 25, 23, 59, 59, 0}), strDate);
}

TEST(ShortDate, EachLogDateGetsItsOwnText)
{
    // Repeated, alternating and rejected dates in a row, as a log gives them, each
    // with other times of day: the text is always that of the line's own date.
    const int aanTimes[][4] = {{2001, 12, 25, 8},  {2001, 12, 25, 9},  {2002, 1, 3, 9},
                               {2001, 4, 31, 9},   {2001, 12, 25, 10}, {2001, 12, 26, 0},
                               {2001, 12, 25, 23}, {2001, 13, 25, 0},  {2002, 1, 3, 0},
                               {2001, 4, 31, 0}};
    for (const auto& anTime : aanTimes) {
        std::string strExpected;
        plat::FormatShortDate(anTime[0], anTime[1], anTime[2], 0, 0, 0, strExpected);
        const LOGTIME time{static_cast<uint8_t>(anTime[0] - 1970), static_cast<uint8_t>(anTime[1] - 1),
                           static_cast<uint8_t>(anTime[2]), static_cast<uint8_t>(anTime[3]), 30, 0, 0};
        EXPECT_EQ(FormatLogDate(time), strExpected)
            << anTime[0] << "-" << anTime[1] << "-" << anTime[2];
        EXPECT_EQ(strExpected.empty(), anTime[1] == 13 || anTime[2] == 31);
    }
}

TEST(ShortDate, RejectedDatesAreEmpty)
{
    // (Wine also takes 29 February of a common year, as 1 March: not listed here.)
    const int aanDates[][3] = {{2001, 13, 1}, {2001, 0, 1}, {2001, 4, 31}, {2001, 1, 0},
                               {2001, 1, 32}};
    for (const auto& anDate : aanDates) {
        std::string strDate = "x";
        plat::FormatShortDate(anDate[0], anDate[1], anDate[2], 0, 0, 0, strDate);
        EXPECT_EQ(strDate, "") << anDate[0] << "-" << anDate[1] << "-" << anDate[2];
    }
    std::string strDate;
    plat::FormatShortDate(2000, 2, 29, 0, 0, 0, strDate);
    EXPECT_NE(strDate, "");
    EXPECT_EQ(FormatLogDate(LOGTIME{31, 12, 1, 0, 0, 0, 0}), "");  // month 13
}

}  // namespace

