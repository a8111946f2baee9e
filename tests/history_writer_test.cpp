// The history writer: the row, its quoting, and whole rows under write faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/history_writer.h"
#include "logentry/log_entry.h"
#include "resources/string_table.h"
#include "tests/fake_platform.h"

namespace {

// The worked example: a cleaned file-and-macro virus found by a manual scan.
CLogEntry Example()
{
    CLogEntry entry;
    entry.m_nEvent = 5;
    entry.m_Time = LOGTIME{31, 11, 25, 14, 30, 0, 0};
    entry.m_strPath = "C:\\Data\\report.doc";
    entry.m_strVirusName = "Test.Virus";
    entry.m_nVirusType = 0x500;
    entry.m_nActionTaken = 5;
    entry.m_strComputer = "PC01";
    entry.m_strUser = "alice";
    entry.m_nPrimaryAction = 5;
    entry.m_nSecondaryAction = 1;
    entry.m_nScanType = 1;
    return entry;
}

// Splits one CSV row by RFC 4180 (without its CR LF).
std::vector<std::string> Fields(const std::string& strRow)
{
    std::vector<std::string> astrFields(1);
    bool bQuoted = false;
    for (std::size_t i = 0; i < strRow.size(); ++i) {
        char ch = strRow[i];
        if (bQuoted) {
            if (ch == '"' && i + 1 < strRow.size() && strRow[i + 1] == '"')
                astrFields.back() += strRow[++i];
            else if (ch == '"')
                bQuoted = false;
            else
                astrFields.back() += ch;
        } else if (ch == '"') {
            bQuoted = true;
        } else if (ch == ',') {
            astrFields.emplace_back();
        } else {
            astrFields.back() += ch;
        }
    }
    return astrFields;
}

class HistoryWriter : public ::testing::Test {
protected:
    void SetUp() override { g_fake = FakePlatform{}; }
    void TearDown() override { EXPECT_EQ(g_fake.nFilesOpen, 0); }
};

TEST_F(HistoryWriter, WorkedExample)
{
    EXPECT_EQ(WriteHistoryRow(Example()), kRowWritten);
    EXPECT_EQ(g_fake.History(),
              "2001-12-25,report.doc,Test.Virus,File; Macro,Cleaned,PC01,alice,C:\\Data\\,"
              "Cleaned,C:\\Data\\,Clean virus from file,Quarantine infected file,Manual scan\r\n");
}

TEST_F(HistoryWriter, OnlyVirusEventsOpenTheFile)
{
    for (int32_t nEvent : {0, 2, 3, 4, 10, 21, -5, 6}) {
        CLogEntry entry = Example();
        entry.m_nEvent = nEvent;
        EXPECT_EQ(WriteHistoryRow(entry), kRowWritten);
    }
    EXPECT_EQ(g_fake.nAppends, 0);
    EXPECT_TRUE(g_fake.files.empty());
}

TEST_F(HistoryWriter, EmptyAndUnknownFieldsKeepThirteen)
{
    CLogEntry entry = Example();
    entry.m_nScanType = 4;
    entry.m_nActionTaken = 0;
    entry.m_nPrimaryAction = 7;
    entry.m_nSecondaryAction = -1;
    entry.m_nVirusType = 0x200;
    entry.m_strPath = "C:\\Mail\\box.zip";
    entry.m_nContainerFlag = 1;
    entry.m_nContainerLevel = 1;
    WriteHistoryRow(entry);
    const std::string& strRow = g_fake.History();
    EXPECT_EQ(strRow, "2001-12-25,,Test.Virus,,Unknown action,PC01,alice,,Infected,,"
                      "Unknown action,Unknown action,\r\n");
}

TEST_F(HistoryWriter, TextsWithCommasAndQuotesStayOneField)
{
    const std::string astrNames[] = {"W32.Bad,Name", "Say \"hi\"", "two\r\nlines", ",", "\"", ""};
    for (const auto& strName : astrNames) {
        g_fake = FakePlatform{};
        CLogEntry entry = Example();
        entry.m_strVirusName = strName;
        entry.m_strUser = "a,b";
        entry.m_strPath = "\"C:\\Sales, Europe\\x.doc";
        WriteHistoryRow(entry);
        std::string strRow = g_fake.History();
        ASSERT_GE(strRow.size(), 2u);
        ASSERT_EQ(strRow.substr(strRow.size() - 2), "\r\n");
        std::vector<std::string> astrFields = Fields(strRow.substr(0, strRow.size() - 2));
        ASSERT_EQ(astrFields.size(), 13u) << strRow;
        EXPECT_EQ(astrFields[2], strName);
        EXPECT_EQ(astrFields[6], "a,b");
        EXPECT_EQ(astrFields[7], "\"C:\\Sales, Europe\\");
        EXPECT_EQ(astrFields[3], "File; Macro");
    }
}

TEST(CsvField, QuotesOnlyWhatNeedsIt)
{
    const struct {
        const char* szField;
        const char* szWritten;
    } aCases[] = {
        {"plain; text", "plain; text"}, {"", ""},  {"a,b", "\"a,b\""},
        {"say \"x\"", "\"say \"\"x\"\"\""}, {"cr\r", "\"cr\r\""}, {"lf\n", "\"lf\n\""},
        {"'single'", "'single'"},
    };
    for (const auto& test : aCases) {
        std::string strRow;
        AppendCsvField(strRow, test.szField);
        EXPECT_EQ(strRow, test.szWritten);
        // Only the new field counts, not what the row already holds.
        strRow = "\"a,b\",";
        AppendCsvField(strRow, test.szField);
        EXPECT_EQ(strRow, std::string("\"a,b\",") + test.szWritten);
    }
    // A NUL inside a field neither hides what follows it nor quotes the field.
    using namespace std::string_literals;
    for (const auto& [strField, strWritten] :
         {std::pair{"a\0b"s, "a\0b"s}, {"a\0,b"s, "\"a\0,b\""s}, {"\0\""s, "\"\0\"\"\""s}}) {
        std::string strRow;
        AppendCsvField(strRow, strField);
        EXPECT_EQ(strRow, strWritten);
    }
}

TEST(CsvField, CatalogueTextsNeedNoQuotes)
{
    // The row writes the virus-type, action and scan-type fields as they stand.
    for (unsigned i = 0; i < g_nCatalogueSize; ++i)
        EXPECT_EQ(g_aCatalogue[i].strText.find_first_of(",\"\r\n"), std::string_view::npos)
            << g_aCatalogue[i].wID;
}

TEST_F(HistoryWriter, IdenticalEntriesGiveIdenticalRows)
{
    WriteHistoryRow(Example());
    WriteHistoryRow(Example());
    std::string strRow = g_fake.History().substr(0, g_fake.History().size() / 2);
    EXPECT_EQ(g_fake.History(), strRow + strRow);
}

TEST_F(HistoryWriter, DeletedFileIsCreatedAgain)
{
    WriteHistoryRow(Example());
    g_fake.files.erase("VirusHist.csv");
    WriteHistoryRow(Example());
    EXPECT_EQ(std::count(g_fake.History().begin(), g_fake.History().end(), '\n'), 1);
}

TEST_F(HistoryWriter, FailedOrShortWritesLeaveOnlyWholeRows)
{
    g_fake.failedAppendOpens.insert(1);
    g_fake.shortAppends.insert(2);
    EXPECT_EQ(WriteHistoryRow(Example()), kRowWritten);
    std::string strRow = g_fake.History();
    EXPECT_EQ(WriteHistoryRow(Example()), kRowLost);  // the open fails
    EXPECT_EQ(WriteHistoryRow(Example()), kRowLost);  // half the row is written, then cut
    EXPECT_EQ(g_fake.History(), strRow);
    EXPECT_EQ(WriteHistoryRow(Example()), kRowWritten);
    EXPECT_EQ(g_fake.History(), strRow + strRow);
}

TEST_F(HistoryWriter, FailedCutBackIsTriedAgainThenReported)
{
    const struct {
        const char* szCase;
        int nTruncateFailures;
        RowResult result;
        bool bPartRemains;
    } aCases[] = {
        {"cut at once", 0, kRowLost, false},
        {"cut on the second try", 1, kRowLost, false},
        {"cut fails twice", 2, kRowDamaged, true},
    };
    for (const auto& test : aCases) {
        g_fake = FakePlatform{};
        EXPECT_EQ(WriteHistoryRow(Example()), kRowWritten) << test.szCase;
        const std::string strRow = g_fake.History();
        g_fake.shortAppends.insert(1);
        g_fake.nTruncateFailures = test.nTruncateFailures;
        EXPECT_EQ(WriteHistoryRow(Example()), test.result) << test.szCase;
        EXPECT_EQ(g_fake.History() != strRow, test.bPartRemains) << test.szCase;
        EXPECT_EQ(g_fake.History().substr(0, strRow.size()), strRow) << test.szCase;
    }
}

TEST_F(HistoryWriter, EveryRowOpensAndClosesTheFile)
{
    for (int i = 0; i < 3; ++i)
        WriteHistoryRow(Example());
    EXPECT_EQ(g_fake.nAppends, 3);
    EXPECT_EQ(g_fake.opened, std::vector<std::string>(3, "VirusHist.csv"));
}

}  // namespace
