// The log line parser: splitting, conversions and the state carried between lines.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "logentry/log_entry.h"

namespace {

// A line of 33 columns: column n holds "c<n>" (column 13 a quoted "d13") unless
// overridden.
std::string Line(std::initializer_list<std::pair<int, std::string>> columns)
{
    std::string astrColumns[33];
    for (int i = 0; i < 33; ++i)
        astrColumns[i] = "c" + std::to_string(i);
    astrColumns[13] = "\"d13\"";
    for (const auto& column : columns)
        astrColumns[column.first] = column.second;
    std::string strLine;
    for (int i = 0; i < 33; ++i)
        strLine += (i ? "," : "") + astrColumns[i];
    return strLine;
}

CLogEntry Parse(const std::string& strLine)
{
    CLogEntry entry;
    entry.ParseLine(strLine);
    return entry;
}

TEST(ParseLine, PlainColumnsGoToTheirMembers)
{
    CLogEntry entry = Parse(
        "1F0A1C0E2A05,5,7,1,PC01,alice,Test.Virus,C:\\Data\\report.doc,5,1,5,1280,8192,"
        "\"desc\",14,c15,16,c17,18,19,20,21,22,1,2,25,20011225.002,27,28,29,30,c31,c32");
    EXPECT_EQ(entry.m_Time.byYear, 31);
    EXPECT_EQ(entry.m_Time.byMonth, 10);
    EXPECT_EQ(entry.m_Time.byDay, 28);
    EXPECT_EQ(entry.m_Time.byHour, 14);
    EXPECT_EQ(entry.m_Time.byMinute, 42);
    EXPECT_EQ(entry.m_Time.bySecond, 5);
    EXPECT_EQ(entry.m_nEvent, 5);
    EXPECT_EQ(entry.m_nCol2, 7);
    EXPECT_EQ(entry.m_nScanType, 1);
    EXPECT_EQ(entry.m_strComputer, "PC01");
    EXPECT_EQ(entry.m_strUser, "alice");
    EXPECT_EQ(entry.m_strVirusName, "Test.Virus");
    EXPECT_EQ(entry.m_strPath, "C:\\Data\\report.doc");
    EXPECT_EQ(entry.m_nPrimaryAction, 5);
    EXPECT_EQ(entry.m_nSecondaryAction, 1);
    EXPECT_EQ(entry.m_nActionTaken, 5);
    EXPECT_EQ(entry.m_nVirusType, 1280);
    EXPECT_EQ(entry.m_nFlags, 8192);
    EXPECT_EQ(entry.m_strDescription, "desc");
    EXPECT_EQ(entry.m_bUnquotedDescription, 0);
    EXPECT_EQ(entry.m_nCol14, 14);
    EXPECT_EQ(entry.m_strCol15, "c15");
    EXPECT_EQ(entry.m_nCol16, 16);
    EXPECT_EQ(entry.m_strCol17, "c17");
    EXPECT_EQ(entry.m_nCol18, 18);
    EXPECT_EQ(entry.m_nCol21, 21);
    EXPECT_EQ(entry.m_nContainerFlag, 1);
    EXPECT_EQ(entry.m_nContainerLevel, 2);
    EXPECT_EQ(entry.m_nCol25, 25);
    EXPECT_EQ(entry.m_wStampYear, 2001);
    EXPECT_EQ(entry.m_wStampMonth, 12);
    EXPECT_EQ(entry.m_wStampDay, 25);
    EXPECT_EQ(entry.m_dwStampRevision, 2u);
    EXPECT_EQ(entry.m_nCol27, 27);
    EXPECT_EQ(entry.m_nCol30, 30);
    EXPECT_EQ(entry.m_strCol31, "c31");
    EXPECT_EQ(entry.m_strCol32, "c32");
}

TEST(ParseLine, QuotedPathKeepsItsCommas)
{
    CLogEntry entry = Parse(Line({{7, "\"C:\\a,b\\c.doc\""}, {8, "3"}, {13, "\"d\""}}));
    EXPECT_EQ(entry.m_strPath, "C:\\a,b\\c.doc");
    EXPECT_EQ(entry.m_nPrimaryAction, 3);
}

struct SplitCase {
    const char* szName;
    std::string strLine;
    std::string strPath;         // column 7
    int32_t nPrimaryAction;      // column 8
    std::string strDescription;  // column 13
    std::string strCol15;
};

class Splitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Splitting, FollowsTheColumnRules)
{
    const SplitCase& test = GetParam();
    CLogEntry entry = Parse(test.strLine);
    EXPECT_EQ(entry.m_strPath, test.strPath);
    EXPECT_EQ(entry.m_nPrimaryAction, test.nPrimaryAction);
    EXPECT_EQ(entry.m_strDescription, test.strDescription);
    EXPECT_EQ(entry.m_strCol15, test.strCol15);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Splitting,
    ::testing::Values(
        // The character after a closing quote is dropped whatever it is.
        SplitCase{"CloseQuoteThenOther", "t,5,2,3,c,u,v,\"p\"X8,9,10,11,12,\"d\",14,s15", "p", 8,
                  "d", "s15"},
        // Without a closing quote: empty column; the quote and the next char go.
        SplitCase{"NoClosingQuote", "t,5,2,3,c,u,v,\"7,8,9", "", 0, "", ""},
        // Column 13 quoted, with commas inside.
        SplitCase{"QuotedDescription", Line({{13, "\"a, b, c\""}}), "c7", 0, "a, b, c", "c15"},
        // Column 13 without a quote takes the rest of the line, commas and all.
        SplitCase{"UnquotedDescription", "t,5,2,3,c,u,v,p,1,9,10,11,12,free, text \"q\",x,y",
                  "p", 1, "free, text \"q\",x,y", ""},
        // Column 13 quoted but closed by something other than a comma.
        SplitCase{"DescriptionCloseThenOther", Line({{13, "\"d\"Z14"}}), "c7", 0, "d", "c14"},
        // A leading quote in a plain column is kept; one trailing quote goes.
        SplitCase{"QuoteInPlainColumn", Line({{7, "p"}, {15, "\"q,x\""}}), "p", 0, "d13", "\"q"},
        SplitCase{"SingleQuoteColumn", Line({{15, "\""}}), "c7", 0, "d13", ""},
        // Fewer than 33 columns: the rest are empty.
        SplitCase{"ShortLine", "t,5,2,3,c,u,v,path", "path", 0, "", ""}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.szName; });

TEST(ParseLine, RowColumnsAreThoseOfAWholeParse)
{
    const std::string astrLines[] = {
        Line({{1, "5"}, {7, "\"C:\\a,b\\c.doc\""}, {23, "1"}, {24, "2"}}),
        Line({{1, "5"}, {13, "\"a, \"b\""}, {14, "\"x,y\""}, {23, " 7"}, {24, "-1"}}),
        Line({{1, "10"}, {11, "1280"}, {15, "\""}, {22, ""}, {23, "1"}, {24, "0"}}),
        "1F0B19000000,5,0,1,PC,u,N,C:\\b.doc,5,1,5,16,0,free, text,1,1",
        "1F0B19000000,5,0,1,PC,u,N,C:\\b.doc,5,1,5,16,0,\"d\",14,15,16,17,18,19,20,21,22,3",
        "1F0B19000000,5,0,1,PC,u,N,\"C:\\b.doc",
        "",
    };
    for (const std::string& strLine : astrLines) {
        CLogEntry whole;
        whole.ParseLine(strLine);
        CLogEntry row;
        row.m_nCol14 = row.m_nCol30 = 77;
        row.m_strCol15 = row.m_strCol32 = "kept";
        row.m_wStampYear = 1999;
        row.ParseLine(strLine, CLogEntry::kRowColumns);
        EXPECT_EQ(std::memcmp(&row.m_Time, &whole.m_Time, sizeof(LOGTIME)), 0) << strLine;
        EXPECT_EQ(row.m_nEvent, whole.m_nEvent) << strLine;
        EXPECT_EQ(row.m_nScanType, whole.m_nScanType) << strLine;
        EXPECT_EQ(row.m_strComputer, whole.m_strComputer) << strLine;
        EXPECT_EQ(row.m_strUser, whole.m_strUser) << strLine;
        EXPECT_EQ(row.m_strVirusName, whole.m_strVirusName) << strLine;
        EXPECT_EQ(row.m_strPath, whole.m_strPath) << strLine;
        EXPECT_EQ(row.m_nPrimaryAction, whole.m_nPrimaryAction) << strLine;
        EXPECT_EQ(row.m_nSecondaryAction, whole.m_nSecondaryAction) << strLine;
        EXPECT_EQ(row.m_nActionTaken, whole.m_nActionTaken) << strLine;
        EXPECT_EQ(row.m_nVirusType, whole.m_nVirusType) << strLine;
        EXPECT_EQ(row.m_nFlags, whole.m_nFlags) << strLine;
        EXPECT_EQ(row.m_strDescription, whole.m_strDescription) << strLine;
        EXPECT_EQ(row.m_bUnquotedDescription, whole.m_bUnquotedDescription) << strLine;
        EXPECT_EQ(row.m_nContainerFlag, whole.m_nContainerFlag) << strLine;
        EXPECT_EQ(row.m_nContainerLevel, whole.m_nContainerLevel) << strLine;
        // The columns the row does not show are left as they were.
        EXPECT_EQ(row.m_nCol14, 77);
        EXPECT_EQ(row.m_nCol30, 77);
        EXPECT_EQ(row.m_strCol15, "kept");
        EXPECT_EQ(row.m_strCol32, "kept");
        EXPECT_EQ(row.m_wStampYear, 1999);
    }
}

TEST(ParseLine, LastColumnRunsToTheEnd)
{
    CLogEntry exact = Parse(Line({{13, "\"d\""}, {32, "last\""}}));
    EXPECT_EQ(exact.m_strCol32, "last\"");  // no comma after it: taken unchanged
    CLogEntry more = Parse(Line({{13, "\"d\""}, {32, "last\""}}) + ",extra,more");
    EXPECT_EQ(more.m_strCol32, "last");  // ends at the comma; its trailing quote goes
}

TEST(ParseLine, EmptyLine)
{
    CLogEntry entry;
    entry.ParseLine(Line({{0, "1F0A1C0E2A05"}, {1, "2"}, {13, "\"d\""}, {26, "20011225.002"}, {27, "9"}}));
    entry.ParseLine("");
    EXPECT_EQ(entry.m_nEvent, 0);
    EXPECT_EQ(entry.m_strPath, "");
    EXPECT_EQ(entry.m_strCol32, "");
    EXPECT_EQ(entry.m_nCol30, 0);
    EXPECT_EQ(entry.m_bUnquotedDescription, 1);
    EXPECT_EQ(entry.m_wStampYear, 2001);  // columns 26 and 27 keep theirs
    EXPECT_EQ(entry.m_nCol27, 9);
    EXPECT_EQ(entry.m_HeldTime.byYear, 31);  // held time from the event-2 line
    EXPECT_EQ(entry.m_Time.byYear, 0);       // unsupplied time parts are zero
}

TEST(ParseInteger, FollowsAtoi)
{
    const struct {
        const char* szText;
        int32_t nValue;
    } aCases[] = {
        {"12abc", 12},          {"1F", 1},           {"0x1F", 0},
        {"  -42", -42},         {"+7", 7},           {"", 0},
        {"abc", 0},             {"- 1", 0},          {"\t\n 5", 5},
        {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"-99999999999999999999", INT_MIN},
    };
    for (const auto& test : aCases)
        EXPECT_EQ(ParseInteger(test.szText), test.nValue) << test.szText;
}

TEST(ParseLine, TimeScan)
{
    const struct {
        const char* szText;
        uint8_t abyParts[6];
    } aCases[] = {
        {"1F0A1C0E2A05", {31, 10, 28, 14, 42, 5}},
        {"1F0A1C", {31, 10, 28, 0, 0, 0}},            // parts not supplied are zero
        {" 1 F0A", {1, 240, 10, 0, 0, 0}},            // white space before each number
        {"1Fz9", {31, 0, 0, 0, 0, 0}},                // stops at the first non-digit
        {"-1+F", {255, 15, 0, 0, 0, 0}},              // a sign counts in the width
        {"0x1F0A1C", {0, 31, 10, 28, 0, 0}},          // "0x" in the width reads as 0
        {"", {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& test : aCases) {
        CLogEntry entry;
        entry.ParseLine(Line({{0, "FFFFFFFFFFFF"}}));
        entry.ParseLine(Line({{0, test.szText}}));
        const LOGTIME& t = entry.m_Time;
        uint8_t abyGot[6] = {t.byYear, t.byMonth, t.byDay, t.byHour, t.byMinute, t.bySecond};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(abyGot[i], test.abyParts[i]) << test.szText << " part " << i;
    }
}

TEST(ParseLine, StampScanKeepsWhatItDoesNotReach)
{
    const struct {
        const char* szText;
        uint16_t wYear, wMonth, wDay;
        uint32_t dwRevision;
    } aCases[] = {
        {"20011225.002", 2001, 12, 25, 2},
        {"2001", 2001, 9, 9, 9},
        {"200112", 2001, 12, 9, 9},
        {"20011225", 2001, 12, 25, 9},
        {"20011225 .002", 2001, 12, 25, 9},  // the point must follow at once
        {"12345678.1234", 1234, 56, 78, 123},
        {"", 9, 9, 9, 9},                      // empty: nothing changes
        {"x", 9, 9, 9, 9},
    };
    for (const auto& test : aCases) {
        CLogEntry entry;
        entry.ParseLine(Line({{26, "00090909.009"}}));
        entry.ParseLine(Line({{26, test.szText}}));
        EXPECT_EQ(entry.m_wStampYear, test.wYear) << test.szText;
        EXPECT_EQ(entry.m_wStampMonth, test.wMonth) << test.szText;
        EXPECT_EQ(entry.m_wStampDay, test.wDay) << test.szText;
        EXPECT_EQ(entry.m_dwStampRevision, test.dwRevision) << test.szText;
    }
}

TEST(ParseLine, EventTypeRules)
{
    CLogEntry entry;
    entry.ParseLine(Line({{0, "010203040506"}, {1, "3"}}));  // type 3 first: held time zero
    EXPECT_EQ(entry.m_HeldTime.byYear, 0);
    EXPECT_EQ(entry.m_nHeldKind, 0);

    entry.ParseLine(Line({{0, "0A0B0C0D0E0F"}, {1, "2"}}));
    EXPECT_EQ(entry.m_HeldTime.byYear, 10);
    EXPECT_EQ(entry.m_HeldTime.bySecond, 15);
    EXPECT_EQ(entry.m_nHeldKind, 1);

    entry.ParseLine(Line({{0, "141516171819"}, {1, "5"}}));  // other types keep it
    EXPECT_EQ(entry.m_HeldTime.byYear, 10);

    entry.ParseLine(Line({{0, "1E1F20212223"}, {1, "21"}}));
    EXPECT_EQ(entry.m_HeldTime.byYear, 30);
    EXPECT_EQ(entry.m_nHeldKind, 2);

    entry.ParseLine(Line({{1, "3"}}));
    EXPECT_EQ(entry.m_HeldTime.byYear, 0);
    EXPECT_EQ(entry.m_nHeldKind, 2);  // never set back

    entry.ParseLine(Line({{1, "10"}, {11, "1280"}}));
    EXPECT_EQ(entry.m_nVirusType, 0);  // type 10 ignores column 11
    entry.ParseLine(Line({{1, "5"}, {11, "1280"}}));
    EXPECT_EQ(entry.m_nVirusType, 1280);
}

TEST(ParseLine, UnquotedDescriptionStaysSetForTheFile)
{
    CLogEntry entry;
    entry.ParseLine(Line({{13, "\"d\""}}));
    EXPECT_EQ(entry.m_bUnquotedDescription, 0);
    entry.ParseLine(Line({{13, "plain"}}));
    EXPECT_EQ(entry.m_bUnquotedDescription, 1);
    EXPECT_EQ(entry.m_nCol14, 0);
    entry.ParseLine(Line({{13, "\"d\""}}));
    EXPECT_EQ(entry.m_bUnquotedDescription, 1);
    CLogEntry fresh;  // a new file's entry starts clear
    EXPECT_EQ(fresh.m_bUnquotedDescription, 0);
    EXPECT_EQ(fresh.m_nHeldKind, 0);
}

}  // namespace
