// The export run and the log reader, against the scripted platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include <string>
#include <vector>

#include "app/export_run.h"
#include "app/line_reader.h"
#include "common/frames.h"
#include "export/history_writer.h"
#include "logentry/log_entry.h"
#include "tests/fake_platform.h"

using namespace std::string_literals;

namespace {

const std::string kLogs = "C:\\ProgramData\\Corvessa\\Tarvel Corporate Edition\\7.6\\logs";

// A virus line whose virus name is strName: its row shows the name in field 3.
std::string Virus(const std::string& strName)
{
    return "1F0B19000000,5,0,1,PC,user," + strName +
           ",C:\\a.doc,5,1,5,256,0,\"d\",,,,,,,,,,0,0,,,,,,,,";
}

class ExportRun : public ::testing::Test {
public:
    void SetUp() override
    {
        g_fake = FakePlatform{};
        g_fake.AddEntry("C:\\ProgramData\\Corvessa\\Tarvel Corporate Edition\\*.*", "7.6", true);
    }
    void AddLog(const std::string& strName, const std::string& strContent,
                const std::string& strPattern = "*.log")
    {
        g_fake.AddEntry(kLogs + "\\" + strPattern, strName);
        g_fake.files[kLogs + "\\" + strName].strContent = strContent;
    }
    int Run(std::vector<std::string> astrArgs = {})
    {
        std::vector<char*> apArgs{const_cast<char*>("virushist.exe")};
        for (auto& strArg : astrArgs)
            apArgs.push_back(&strArg[0]);
        apArgs.push_back(nullptr);
        int nStatus = ExportVirusHistory(static_cast<int>(apArgs.size() - 1), apArgs.data());
        EXPECT_EQ(g_fake.nFilesOpen, 0);
        EXPECT_EQ(g_fake.nSearchesOpen, 0);
        return nStatus;
    }
    // The virus names of the rows written, in order.
    std::vector<std::string> Names()
    {
        std::vector<std::string> astrNames;
        const std::string& strFile = g_fake.History();
        for (std::size_t nPos = 0; nPos < strFile.size();) {
            std::size_t nEnd = strFile.find("\r\n", nPos);
            std::string strRow = strFile.substr(nPos, nEnd - nPos);
            std::size_t nFirst = strRow.find(',', strRow.find(',') + 1);
            astrNames.push_back(strRow.substr(nFirst + 1, strRow.find(',', nFirst + 1) - nFirst - 1));
            nPos = nEnd + 2;
        }
        return astrNames;
    }
};

TEST_F(ExportRun, PatternFromTheArguments)
{
    Run();
    Run({"x*.txt"});
    Run({"a", "b"});
    std::vector<std::string> astrLogSearches;
    for (const auto& strSearch : g_fake.searched) {
        if (strSearch.rfind(kLogs, 0) == 0)
            astrLogSearches.push_back(strSearch);
    }
    EXPECT_EQ(astrLogSearches, (std::vector<std::string>{kLogs + "\\*.log", kLogs + "\\x*.txt",
                                                         kLogs + "\\*.log"}));
}

TEST_F(ExportRun, NotInstalledLeavesTheHistoryAlone)
{
    g_fake.homeValue.reset();
    g_fake.files["VirusHist.csv"].strContent = "old rows\r\n";
    EXPECT_EQ(Run(), kExitNotInstalled);
    EXPECT_EQ(g_fake.History(), "old rows\r\n");
    ASSERT_EQ(g_fake.messages.size(), 1u);
    EXPECT_EQ(g_fake.messages[0].second, "KSD not found on machine");
    EXPECT_EQ(g_fake.messages[0].first,
              "KSD is not installed on this computer.  Please be sure that\n"
              "Brimlane AV Server or Brimlane AV Client 7.0 or later is installed\n"
              "and properly running on this machine.");
    EXPECT_TRUE(g_fake.searched.empty() || g_fake.searched.back().find("logs") == std::string::npos);
}

TEST_F(ExportRun, OutputNotCreatable)
{
    g_fake.unwritable.insert("VirusHist.csv");
    AddLog("a.log", Virus("V1"));
    EXPECT_EQ(Run(), kExitOutputNotCreatable);
    ASSERT_EQ(g_fake.messages.size(), 1u);
    EXPECT_EQ(g_fake.messages[0].first, "Error: Unable to create output file.  Program terminating.");
    EXPECT_EQ(g_fake.messages[0].second, "Unable to Create File");
    EXPECT_EQ(g_fake.searched.back(), "C:\\ProgramData\\Corvessa\\Tarvel Corporate Edition\\*.*");
}

TEST_F(ExportRun, NoLogsGiveAnEmptyFile)
{
    g_fake.files["VirusHist.csv"].strContent = "old rows\r\n";
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.History(), "");
    EXPECT_TRUE(g_fake.messages.empty());
}

TEST_F(ExportRun, FoldersAreSkippedAndFilesReadInSearchOrder)
{
    AddLog("b.log", Virus("B1") + "\n" + Virus("B2") + "\n");
    g_fake.AddEntry(kLogs + "\\*.log", "old.log", true);
    g_fake.files[kLogs + "\\old.log"].strContent = Virus("OLD");
    AddLog("a.log", Virus("A1"));
    AddLog("h.log", Virus("H1"));
    g_fake.searches[kLogs + "\\*.log"].back().dwFileAttributes = 0x1 | 0x2 | 0x4;  // read-only, hidden, system
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B1", "B2", "A1", "H1"}));
}

TEST_F(ExportRun, FolderPartOfThePatternIsWhereFilesAreRead)
{
    AddLog("x.log", Virus("SUB"), "old\\*.log");
    g_fake.files.erase(kLogs + "\\x.log");
    g_fake.files[kLogs + "\\old\\x.log"].strContent = Virus("SUB");
    g_fake.files[kLogs + "\\x.log"].strContent = Virus("TOP");
    EXPECT_EQ(Run({"old\\*.log"}), kExitSuccess);
    EXPECT_EQ(Names(), std::vector<std::string>{"SUB"});
}

TEST_F(ExportRun, UnreadableLogsEndTheirReadingOnly)
{
    AddLog("a.log", Virus("A1"));
    AddLog("b.log", Virus("B1"));
    g_fake.files[kLogs + "\\a.log"].bOpenFails = true;
    AddLog("c.log", Virus("C1") + "\n" + Virus("C2") + "\n" + Virus("C3"));
    // The first read holds C1 whole; the second fails inside C2.
    g_fake.files[kLogs + "\\c.log"].nReadFailsAt = 150;
    g_fake.nReadChunk = 100;
    AddLog("d.log", Virus("D1"));
    EXPECT_EQ(Run(), kExitIncomplete);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B1", "C1", "D1"}));
}

TEST_F(ExportRun, LostRowsMakeTheRunIncomplete)
{
    AddLog("a.log", Virus("A1") + "\n" + Virus("A2") + "\n" + Virus("A3"));
    g_fake.failedAppendOpens.insert(1);
    EXPECT_EQ(Run(), kExitIncomplete);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A1", "A3"}));
}

TEST_F(ExportRun, DamagedRowEndsTheRun)
{
    // The second row is written in part and cannot be cut back: nothing is appended
    // after it, in this log or the next, and the run says so.
    AddLog("a.log", Virus("A1") + "\n" + Virus("A2") + "\n" + Virus("A3"));
    AddLog("b.log", Virus("B1"));
    g_fake.shortAppends.insert(1);
    g_fake.nTruncateFailures = 2;
    EXPECT_EQ(Run(), kExitRowDamaged);
    EXPECT_EQ(g_fake.nAppends, 2);
    const std::string& strFile = g_fake.History();
    EXPECT_NE(strFile.find(",A2,"), std::string::npos);  // part of the row stays
    EXPECT_EQ(strFile.find("A3"), std::string::npos);
    EXPECT_EQ(strFile.find("B1"), std::string::npos);
    EXPECT_NE(strFile.substr(strFile.size() - 2), "\r\n");
    ASSERT_EQ(g_fake.errorLines.size(), 1u);
    EXPECT_NE(g_fake.errorLines[0].find("VirusHist.csv: a row was written in part and could not be cut back ("),
              std::string::npos) << g_fake.errorLines[0];
}

TEST_F(ExportRun, UnreadableSystemTouchesNothing)
{
    g_fake.bSystemOpens = false;
    g_fake.files["VirusHist.csv"].strContent = "old\r\n";
    EXPECT_EQ(Run(), kExitSystemUnreadable);
    EXPECT_EQ(g_fake.History(), "old\r\n");
    EXPECT_EQ(g_fake.nRegistryQueries, 0);
    EXPECT_TRUE(g_fake.messages.empty());  // the platform says why, not the run
}

TEST_F(ExportRun, OverlongInputsTouchNothing)
{
    g_fake.files["VirusHist.csv"].strContent = "old\r\n";
    EXPECT_EQ(Run({std::string(300, 'p')}), kExitPatternTooLong);
    EXPECT_EQ(Run({std::string(259 - kLogs.size(), 'p')}), kExitPatternTooLong);
    EXPECT_EQ(g_fake.History(), "old\r\n");
    EXPECT_EQ(Run({std::string(258 - kLogs.size(), 'p')}), kExitSuccess);
}

TEST_F(ExportRun, HomeDirectoryWithoutRoomForLogsTouchesNothing)
{
    // A home directory of 255 characters has no room for "\logs".
    g_fake.dwPlatformId = 1;
    g_fake.homeValue = std::string(255, 'h') + '\0';
    g_fake.files["VirusHist.csv"].strContent = "old\r\n";
    EXPECT_EQ(Run(), kExitNoDataFolder);
    EXPECT_EQ(g_fake.History(), "old\r\n");
}

TEST_F(ExportRun, ResolverPlatformErrorReadsNothing)
{
    g_fake.bSystemDirectoryFails = true;
    g_fake.dwLastError = 5;
    g_fake.files["VirusHist.csv"].strContent = "old\r\n";
    EXPECT_EQ(Run(), kExitNoDataFolder);
    EXPECT_EQ(g_fake.History(), "old\r\n");
    EXPECT_TRUE(g_fake.messages.empty());
}

TEST_F(ExportRun, LogPathThatDoesNotFitIsSkipped)
{
    AddLog(std::string(259 - kLogs.size(), 'n'), Virus("LONG"));
    AddLog("a.log", Virus("A1"));
    EXPECT_EQ(Run(), kExitIncomplete);
    EXPECT_EQ(Names(), std::vector<std::string>{"A1"});
}

TEST_F(ExportRun, StateCarriesWithinAFileButNotAcross)
{
    // The first line leaves the virus type in the entry; the type-10 line clears it.
    AddLog("a.log", "1F0B19000000,2,0,1,PC,u,,C:\\a.doc,5,1,5,256,0,\"d\"\n" + Virus("A1"));
    AddLog("b.log", Virus("B1"));
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A1", "B1"}));
}

TEST_F(ExportRun, RowsAreThoseOfEveryLineParsed)
{
    // Lines that make no row are not parsed by the export. Whatever they would have
    // left in the entry (a short line, an unquoted description, other event types,
    // a type-10 line), the rows are those of an entry that parsed every line.
    const std::vector<std::string> astrLines = {
        "1F0B19000000,2,0,1,PC,u,Old.Name,C:\\x\\old.doc,1,2,3,256,8192,free, text",
        Virus("A1"),
        "1F0B19000000,10,0,1,PC,u,,C:\\a.doc,5,1,5,1280,0,\"d\",,,,,,,,,,1,0,,20011225.001,7",
        "1F0B19000000,5,7,101",
        "",
        "1F0B19000000,5,0,65637,PC,bob,Boxed,C:\\Mail\\box.zip>a.doc,1,3,1,769,0,\"\",,,,,,,,,,1,1",
        "1F0B19000000,3,0,1,PC,u,N,C:\\b.doc,5,1,5,16,0,unquoted, with \"quotes\"",
        "1F0B1A000000, 5,0,2,PC,u,Spaced,C:\\c.doc,2,2,2,1,0,\"\"",
        Virus("A2"),
    };
    std::string strContent;
    for (const std::string& strLine : astrLines)
        strContent += strLine + "\r\n";
    AddLog("a.log", strContent);
    EXPECT_EQ(Run(), kExitSuccess);

    CLogEntry entry;
    std::string strExpected;
    std::string strRow;
    for (const std::string& strLine : astrLines) {
        entry.ParseLine(strLine);
        EXPECT_EQ(ReadEventType(strLine), entry.m_nEvent) << strLine;
        if (entry.m_nEvent == kVirusEvent) {
            ComposeHistoryRow(entry, strRow);
            strExpected += strRow;
        }
    }
    EXPECT_EQ(g_fake.History(), strExpected);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A1", "", "Boxed", "Spaced", "A2"}));
}

// What the reader hands on, for file contents and read sizes.
std::vector<std::string> ReadAll(const std::string& strContent, std::size_t nChunk,
                                 bool* pbCut = nullptr)
{
    g_fake = FakePlatform{};
    g_fake.files["f"].strContent = strContent;
    g_fake.nReadChunk = nChunk;
    plat::File* pFile = plat::OpenForRead("f");
    CLineReader reader(pFile);
    std::vector<std::string> astrLines;
    std::string_view strLine;
    while (reader.ReadLine(strLine) == CLineReader::kLine)
        astrLines.emplace_back(strLine);
    if (pbCut)
        *pbCut = reader.WasLineCut();
    plat::CloseFile(pFile);
    return astrLines;
}

TEST(LineReader, SplitsWholeLines)
{
    using Lines = std::vector<std::string>;
    const struct {
        std::string strContent;
        Lines astrLines;
    } aCases[] = {
        {"", {""}},
        {"a\n", {"a", ""}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\rb\n", {"a\rb", ""}},                 // a lone CR stays
        {"a\r", {"a\r"}},                         // and at the very end
        {"ab\0cd\nef"s, {"ab", "ef"}},           // a NUL ends the line text
        {"x\x1Ay\n", {"x\x1Ay", ""}},             // Ctrl-Z is a character like any other
        {std::string(300, 'L') + "\n", {std::string(300, 'L'), ""}},
        {std::string(258, 'L') + "\n", {std::string(258, 'L'), ""}},
    };
    for (const auto& test : aCases) {
        for (std::size_t nChunk : {std::size_t(1), std::size_t(7), std::size_t(1 << 16)}) {
            EXPECT_EQ(ReadAll(test.strContent, nChunk), test.astrLines)
                << test.strContent.size() << " in reads of " << nChunk;
        }
    }
}

TEST(LineReader, LineBeyondTheCapIsCut)
{
    bool bCut = false;
    std::string strLong(CLineReader::kMaxLineLength + 5000, 'L');
    auto astrLines = ReadAll(strLong + "\nnext\n", 1 << 16, &bCut);
    ASSERT_EQ(astrLines.size(), 3u);
    EXPECT_EQ(astrLines[0].size(), CLineReader::kMaxLineLength);
    EXPECT_EQ(astrLines[1], "next");
    EXPECT_TRUE(bCut);
    ReadAll(std::string(CLineReader::kMaxLineLength, 'L'), 1 << 16, &bCut);
    EXPECT_FALSE(bCut);
}

}  // namespace

// The timeline, named by the environment for one run.
class Timeline : public ExportRun {
protected:
    void SetUp() override
    {
        ExportRun::SetUp();
        SetTimeline("timeline.jsonl");
    }
    void TearDown() override { SetTimeline(""); }
    // An environment variable for the runs that follow; empty unsets it.
    static void SetVariable(const char* szName, const char* szValue)
    {
#ifdef _WIN32
        _putenv_s(szName, szValue);
#else
        setenv(szName, szValue, 1);
#endif
    }
    static void SetTimeline(const char* szName) { SetVariable("VIRUSHIST_TIMELINE", szName); }
    std::vector<std::string> Records()
    {
        std::vector<std::string> astrRecords;
        const std::string& strFile = g_fake.files["timeline.jsonl"].strContent;
        for (std::size_t nPos = 0, nEnd; (nEnd = strFile.find('\n', nPos)) != std::string::npos; nPos = nEnd + 1)
            astrRecords.push_back(strFile.substr(nPos, nEnd - nPos));
        return astrRecords;
    }
};

TEST_F(Timeline, EveryLineReadOneRecordAndTheHistoryUnchanged)
{
    const std::string strLog = Virus("A") + "\r\n" +
                               "1F0B19010203,2,0,1,PC,\"u\\\",\xE9,x\r\n" +  // JSON's specials, Latin-1
                               "\r\n" +                                      // no event: no record
                               "nottime,7\r\n" + "1F0D01000000,5\n" +     // no time; month 14
                               "1F0B19000000,9,0,1,PC,u,v,\"C:\\a, b\",8,9,0,0,0,\"x, \\y\"z,w\n";
    AddLog("a.log", strLog);
    SetTimeline("");
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string strHistory = g_fake.History();
    SetTimeline("timeline.jsonl");
    g_fake.nBias = -330;  // India: UTC+05:30
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.History(), strHistory);

    const std::vector<std::string> astrRecords = Records();
    ASSERT_EQ(astrRecords.size(), 5u);
    const struct {
        std::size_t nRecord;
        const char* szPart;
    } aParts[] = {
        {0, "{\"datetime\":\"2001-12-24T18:30:00Z\",\"timestamp\":1009218600000000,\"timestamp_desc\":"},
        {0, ",\"local_time\":\"2001-12-25T00:00:00\",\"utc_offset\":\"+05:30\",\"time_zone\":\"Test Standard Time\""},
        {0, ",\"event\":5,\"date\":\"2001-12-25\",\"file_name\":\"a.doc\",\"virus_name\":\"A\""},
        {0, ",\"source\":\"C:\\\\ProgramData\\\\Corvessa\\\\Tarvel Corporate Edition\\\\7.6\\\\logs\\\\a.log\""},
        {0, ",\"line\":1,\"system\":\"fake system\",\"columns\":[\"1F0B19000000\",\"5\","},
        {1, "\"line\":2,"},
        {1, "\"columns\":[\"1F0B19010203\",\"2\",\"0\",\"1\",\"PC\",\"\\\"u\\\\\\\"\",\"\xC3\xA9\",\"x\"]}"},
        {1, "\"message\":\"Log event 2 on PC (\\\"u\\\\\\\")\""},
        {2, "{\"datetime\":null,\"timestamp\":null,"},
        {2, "\"local_time\":null,\"utc_offset\":null,\"time_zone\":null,\"event\":7,"},
        {2, "\"line\":4,"},
        {3, "{\"datetime\":null,"},
        {3, "\"event\":5,\"date\":\"\","},
        {3, "\"line\":5,"},
        // Quoted columns 7 and 13 run to their closing quote.
        {4, "\"columns\":[\"1F0B19000000\",\"9\",\"0\",\"1\",\"PC\",\"u\",\"v\",\"\\\"C:\\\\a, b\\\"\",\"8\","
            "\"9\",\"0\",\"0\",\"0\",\"\\\"x, \\\\y\\\"z\",\"w\"]}"},
    };
    for (const auto& test : aParts)
        EXPECT_NE(astrRecords[test.nRecord].find(test.szPart), std::string::npos)
            << "record " << test.nRecord << " lacks " << test.szPart << "\n" << astrRecords[test.nRecord];
}

TEST_F(Timeline, WithoutATimeZoneTheLocalTimeIsUtc)
{
    AddLog("a.log", Virus("A"));
    g_fake.strTimeZone.clear();
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_NE(Records().at(0).find("\"datetime\":\"2001-12-25T00:00:00Z\""), std::string::npos);
    EXPECT_NE(Records().at(0).find("\"utc_offset\":\"+00:00\",\"time_zone\":null"), std::string::npos);
}

TEST_F(Timeline, ControlsATerminalActsOnAreEscaped)
{
    // A code page's byte that Windows makes a C1 control (0x9B: CSI), and a
    // direction override, stand escaped: the same JSON value, no raw control.
    AddLog("a.log", "1F0B19000000,2,0,1,PC,u\x9b" "2J\r\n");
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_NE(Records().at(0).find("\"u\\u009b2J\""), std::string::npos) << Records().at(0);
    EXPECT_TRUE(AreWholeRecords(g_fake.files["timeline.jsonl"].strContent));
}

TEST_F(Timeline, ASystemNamedInNoUtf8IsOneAllRecordsAccept)
{
    // A Linux path may hold any bytes: each that is no UTF-8 stands as U+FFFD.
    AddLog("a.log", Virus("A"));
    g_fake.strSystemName = "/cases/caf\xE9-\xC3\xA9";
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_NE(Records().at(0).find("\"system\":\"/cases/caf\xEF\xBF\xBD-\xC3\xA9\""), std::string::npos);
    EXPECT_TRUE(AreWholeRecords(g_fake.files["timeline.jsonl"].strContent));
    g_fake.strSystemName = "fake system";
}

TEST_F(Timeline, ThatCannotBeCreatedEndsTheRunBeforeAnythingIsWritten)
{
    AddLog("a.log", Virus("A"));
    g_fake.files["VirusHist.csv"].strContent = "kept";
    g_fake.unwritable.insert("timeline.jsonl");
    EXPECT_EQ(Run(), kExitOutputNotCreatable);
    EXPECT_EQ(g_fake.History(), "kept");
    EXPECT_EQ(g_fake.messages.size(), 1u);
}

// Another run holding either output file: this one ends before either is touched.
TEST_F(Timeline, HeldByAnotherRunTouchesNothing)
{
    for (const char* szHeld : {"VirusHist.csv", "timeline.jsonl"}) {
        SetUp();
        AddLog("a.log", Virus("A"));
        g_fake.files["VirusHist.csv"].strContent = "kept";
        g_fake.files["timeline.jsonl"].strContent = "kept too";
        g_fake.held.insert(szHeld);
        EXPECT_EQ(Run(), kExitOutputNotCreatable) << szHeld;
        EXPECT_EQ(g_fake.History(), "kept") << szHeld;
        EXPECT_EQ(g_fake.files["timeline.jsonl"].strContent, "kept too") << szHeld;
        EXPECT_TRUE(g_fake.messages.empty()) << szHeld;
    }
}

// A run that cannot have both outputs touches neither: what it created is
// removed, what was there stays as it was.
TEST_F(Timeline, ARefusedRunLeavesBothAsTheyWere)
{
    for (const bool bHeld : {true, false}) {
        for (const bool bExisted : {true, false}) {
            SCOPED_TRACE(std::string(bHeld ? "history held" : "history not creatable") +
                         (bExisted ? ", timeline there before" : ", no timeline before"));
            SetUp();
            AddLog("a.log", Virus("A"));
            (bHeld ? g_fake.held : g_fake.unwritable).insert("VirusHist.csv");
            if (bExisted)
                g_fake.files["timeline.jsonl"].strContent = "kept";
            EXPECT_EQ(Run(), kExitOutputNotCreatable);
            EXPECT_EQ(g_fake.files.count("timeline.jsonl"), bExisted ? 1u : 0u);
            if (bExisted) {
                EXPECT_EQ(g_fake.files["timeline.jsonl"].strContent, "kept");
            }
            EXPECT_EQ(g_fake.nFilesOpen, 0);
        }
    }
}

// A write that fails (a full disk, a size limit, a closed pipe): the timeline
// keeps whole records, the lines read up to the cut; the history file is whole.
TEST_F(Timeline, AFailedWriteLeavesWholeRecords)
{
    const struct {
        const char* szCase;
        const char* szTimeline;
        std::size_t nLimit;
        bool bCutFails;
        int nExit;
    } aCases[] = {
        {"file cut back", "timeline.jsonl", 5000, false, kExitIncomplete},
        {"nothing written", "timeline.jsonl", 0, false, kExitIncomplete},
        {"file that cannot be cut back", "timeline.jsonl", 5000, true, kExitRowDamaged},
        {"standard output: a stream keeps what it took", "-", 5000, true, kExitIncomplete},
    };
    std::string strLog;
    for (int i = 0; i < 100; ++i)
        strLog += Virus("V" + std::to_string(i)) + "\r\n";
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        SetUp();
        SetTimeline(test.szTimeline);
        AddLog("a.log", strLog);
        const std::string strFile = std::strcmp(test.szTimeline, "-") == 0 ? kFakeStandardOutput : test.szTimeline;
        g_fake.sizeLimits[strFile] = test.nLimit;
        if (test.bCutFails)
            g_fake.uncuttable.insert(strFile);
        EXPECT_EQ(Run(), test.nExit);
        EXPECT_EQ(std::count(g_fake.History().begin(), g_fake.History().end(), '\n'), 100);
        const std::string& strTimeline = g_fake.files[strFile].strContent;
        if (test.nExit == kExitRowDamaged || strFile == kFakeStandardOutput) {
            EXPECT_EQ(strTimeline.size(), test.nLimit);  // a part of a record remains
            continue;
        }
        // Whole records only, each the next line read.
        ASSERT_TRUE(strTimeline.empty() || strTimeline.back() == '\n');
        std::size_t nRecords = 0;
        for (std::size_t nPos = 0, nEnd; (nEnd = strTimeline.find('\n', nPos)) != std::string::npos; nPos = nEnd + 1) {
            const std::string strRecord = strTimeline.substr(nPos, nEnd - nPos);
            EXPECT_EQ(strRecord.front(), '{');
            EXPECT_EQ(strRecord.back(), '}');
            EXPECT_NE(strRecord.find("\"line\":" + std::to_string(++nRecords) + ","), std::string::npos) << strRecord;
        }
        EXPECT_LT(nRecords, 100u);
    }
    SetTimeline("timeline.jsonl");
}

// "-": the records on standard output, not held, nothing else there; the history
// file is written as ever.
TEST_F(Timeline, OnStandardOutput)
{
    AddLog("a.log", Virus("A") + "\r\n" + Virus("B") + "\r\n");
    SetTimeline("");
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string strHistory = g_fake.History();
    SetUp();
    SetTimeline("-");
    AddLog("a.log", Virus("A") + "\r\n" + Virus("B") + "\r\n");
    g_fake.held.insert("-");
    g_fake.files[kFakeStandardOutput].strContent = "before\n";
    EXPECT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.History(), strHistory);
    const std::string& strOutput = g_fake.files[kFakeStandardOutput].strContent;
    EXPECT_EQ(strOutput.substr(0, 7), "before\n");  // appended to, never emptied
    EXPECT_EQ(std::count(strOutput.begin(), strOutput.end(), '\n'), 3);
    EXPECT_EQ(g_fake.files.count("-"), 0u);
    SetTimeline("timeline.jsonl");
}

// Deleted logs, recovered into the timeline alone.
class Recover : public Timeline {
protected:
    void TearDown() override
    {
        SetRecover("");
        Timeline::TearDown();
    }
    static void SetRecover(const char* szValue) { SetVariable("VIRUSHIST_RECOVER", szValue); }
};

TEST_F(Recover, DeletedLogsReachTheTimelineAlone)
{
    AddLog("a.log", Virus("Live"));
    g_fake.deleted[kLogs + "\\*.log"] = {
        {"?.log", Virus("Shadowed")},  // a live file of the same name wins
        {"old.log", Virus("Old") + "\n\x01\x02garbage,5\n\n" + "1F0B19010203,2,0,1,PC,u\n"}};
    SetRecover("");
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string strHistory = g_fake.History();
    SetRecover("deleted");
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.History(), strHistory);
    const std::vector<std::string> astrRecords = Records();
    ASSERT_EQ(astrRecords.size(), 3u);
    EXPECT_EQ(astrRecords[0].find("recovered"), std::string::npos);
    for (std::size_t i : {1, 2}) {
        EXPECT_NE(astrRecords[i].find("logs\\\\old.log\",\"recovered\":\"deleted\",\"line\":"), std::string::npos)
            << astrRecords[i];
    }
    EXPECT_NE(astrRecords[1].find("\"virus_name\":\"Old\""), std::string::npos);
    EXPECT_NE(astrRecords[2].find("\"line\":4,"), std::string::npos);  // the garbage line skipped, not renumbered
    // A folder with no deleted log but those the live one shadows says so.
    g_fake.deleted[kLogs + "\\*.log"].pop_back();
    g_fake.errorLines.clear();
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.errorLines,
              std::vector<std::string>{"virushist: fake system: VIRUSHIST_RECOVER=deleted: the logs folder holds no "
                                       "deleted logs"});
}

TEST_F(Recover, RequestsThatCannotBeMetTouchNothing)
{
    const struct {
        const char* szValue;
        bool bTimeline;
        bool bImage;
    } aCases[] = {
        {"deleted", false, true},      // no timeline to write to
        {"deleted", true, false},      // no image to recover from
        {"shadows", false, true},      // no timeline to write to
        {"deleted,shadows", true, false},  // no image to recover from
        {"deleted,bogus", true, true}, // not understood
    };
    for (const auto& test : aCases) {
        SetUp();
        AddLog("a.log", Virus("A"));
        g_fake.files["VirusHist.csv"].strContent = "kept";
        g_fake.bImage = test.bImage;
        SetTimeline(test.bTimeline ? "timeline.jsonl" : "");
        SetRecover(test.szValue);
        EXPECT_EQ(Run(), kExitSystemUnreadable) << test.szValue;
        EXPECT_EQ(g_fake.History(), "kept") << test.szValue;
        EXPECT_EQ(g_fake.files.count("timeline.jsonl"), 0u) << test.szValue;
    }
}

// A log in a shadow copy, found by the search of the logs and read there.
void AddCopiedLog(unsigned nCopy, const std::string& strName, const std::string& strContent)
{
    g_fake.AddEntry(ShadowKey(nCopy, kLogs + "\\*.log"), strName);
    g_fake.files[ShadowKey(nCopy, kLogs + "\\" + strName)].strContent = strContent;
}

TEST_F(Recover, ShadowCopiesAddOnlyTheLinesNotWrittenBefore)
{
    AddLog("a.log", Virus("A1") + "\n" + Virus("A2") + "\n");
    g_fake.deleted[kLogs + "\\*.log"] = {{"d.log", Virus("D1") + "\nnot a log line\n"}};
    g_fake.shadowCopies = {{2, {2026, 11, 8, 3, 0, 0}}, {1, {2026, 11, 1, 3, 0, 0}}};
    AddCopiedLog(2, "a.log", Virus("A1") + "\n" + Virus("A2x"));
    AddCopiedLog(1, "a.log", Virus("A1") + "\n" + Virus("A2x") + "\n" + Virus("A3"));
    AddCopiedLog(1, "d.log", Virus("D1") + "\nnot a log line\n");
    SetRecover("");
    ASSERT_EQ(Run(), kExitSuccess);
    const std::string strHistory = g_fake.History();
    SetRecover("deleted,shadows");
    ASSERT_EQ(Run(), kExitSuccess);
    EXPECT_EQ(g_fake.History(), strHistory);
    EXPECT_EQ(g_fake.nShadowView, 0u);
    // What each recovered record is: where from, which line, which virus.
    std::vector<std::string> astrRecovered;
    for (const std::string& strRecord : Records()) {
        const std::size_t nFrom = strRecord.find("\"recovered\"");
        if (nFrom == std::string::npos)
            continue;
        const std::size_t nLineEnd = strRecord.find(',', strRecord.find("\"line\":", nFrom));
        const std::size_t nName = strRecord.find("\"virus_name\":\"");
        astrRecovered.push_back(strRecord.substr(nFrom, nLineEnd - nFrom) +
                                (nName == std::string::npos
                                     ? ""
                                     : " " + strRecord.substr(nName + 14, strRecord.find('"', nName + 14) - nName - 14)));
    }
    EXPECT_EQ(astrRecovered,
              (std::vector<std::string>{
                  "\"recovered\":\"deleted\",\"line\":1 D1",
                  // the line that differs from the live one; copy 1's line 2 is the same
                  "\"recovered\":\"shadow\",\"shadow_copy\":2,\"shadow_copy_time\":\"2026-11-08T03:00:00Z\",\"line\":2 A2x",
                  "\"recovered\":\"shadow\",\"shadow_copy\":1,\"shadow_copy_time\":\"2026-11-01T03:00:00Z\",\"line\":3 A3",
                  // written from the copy: the deleted log's line 2 was skipped
                  "\"recovered\":\"shadow\",\"shadow_copy\":1,\"shadow_copy_time\":\"2026-11-01T03:00:00Z\",\"line\":2"}));
}

TEST_F(Recover, ACopySkippedOrReadInPartMakesTheRunIncomplete)
{
    const struct {
        const char* szCase;
        bool bSkipped;
        long long nReadFailsAt;
    } aCases[] = {{"a copy skipped", true, -1}, {"a log of a copy read in part", false, 10}, {"all read", false, -1}};
    for (const auto& test : aCases) {
        SetUp();
        AddLog("a.log", Virus("A1"));
        g_fake.shadowCopies = {{1, {2026, 11, 1, 3, 0, 0}}};
        if (test.bSkipped)
            g_fake.shadowSkipped = {"image: shadow copy 2 is skipped: damaged"};
        AddCopiedLog(1, "a.log", Virus("A0") + "\n" + Virus("A1"));
        g_fake.files[ShadowKey(1, kLogs + "\\a.log")].nReadFailsAt = test.nReadFailsAt;
        SetRecover("shadows");
        EXPECT_EQ(Run(), test.bSkipped || test.nReadFailsAt >= 0 ? kExitIncomplete : kExitSuccess) << test.szCase;
        EXPECT_EQ(Names(), std::vector<std::string>{"A1"}) << test.szCase;
    }
}

// The run split into a reader and a writer: the reader opens nothing of the system
// before the split and writes no file; the writer, fed what it sent, writes the
// bytes a whole run writes; and a writer fed what no sound reader sends ends it.
class SplitRun : public Timeline {
protected:
    void TearDown() override
    {
        HandRowsOn(nullptr);  // as a reader left it
        Timeline::TearDown();
    }
    // Runs as the reader, then as its writer on what the reader sent.
    int RunSplit()
    {
        g_fake.runPart = plat::kRunReader;
        g_fake.opened.clear();
        g_fake.nRegistryQueries = 0;
        const int nReader = Run();
        EXPECT_EQ(g_fake.nOpensBeforeSplit, 0u);
        EXPECT_EQ(g_fake.files.count("VirusHist.csv") + g_fake.files.count("timeline.jsonl"), 0u)
            << "the reader wrote a file";
        g_fake.runPart = plat::kRunWriter;
        const int nWriter = Run();
        EXPECT_FALSE(g_fake.bReaderEnded);
        EXPECT_EQ(nWriter, nReader);
        return nWriter;
    }
    // Runs the writer alone on these frames: its exit status.
    int RunWriter(const std::string& strFrames)
    {
        g_fake.runPart = plat::kRunWriter;
        g_fake.strFrames = strFrames;
        return Run();
    }
    static std::string Frame(FrameType type, std::string_view strPayload = {})
    {
        std::string strFrame;
        AppendFrame(strFrame, type, strPayload);
        return strFrame;
    }
    static std::string End(char chStatus) { return Frame(kFrameEnd, std::string(1, chStatus)); }
    // A progress frame of these counts and state, its search as given.
    static std::string Progress(uint32_t nFound, uint32_t nRead, uint32_t nInPart, uint32_t nNotRead, uint8_t nState,
                                const std::string& strSearch)
    {
        PROGRESS progress;
        progress.nLogsFound = nFound;
        progress.nLogsRead = nRead;
        progress.nLogsInPart = nInPart;
        progress.nLogsNotRead = nNotRead;
        progress.nState = nState;
        return Frame(kFrameProgress, EncodeProgress(progress) + strSearch);
    }
    // How many frames of this type the reader sent.
    static int FramesOf(FrameType type)
    {
        CFrameDecoder decoder;
        decoder.Feed(g_fake.strFrames.data(), g_fake.strFrames.size());
        FRAME frame{};
        int nCount = 0;
        while (decoder.Next(frame) == CFrameDecoder::kFrame)
            nCount += frame.type == type;
        return nCount;
    }
};

TEST_F(SplitRun, TheWriterWritesWhatAWholeRunWrites)
{
    AddLog("a.log", Virus("One") + "\r\n" + "1F0B19000000,2,0,1,PC,user\r\n" + Virus("Two, \"quoted\"") + "\r\n");
    AddLog("b.log", Virus("Th\x7fr\xe9" "e") + "\r\n");  // a DEL, as it is, and a character of the code page
    EXPECT_EQ(Run(), 0);
    const std::string strHistory = g_fake.History(), strTimeline = g_fake.files["timeline.jsonl"].strContent;
    g_fake.files.erase("VirusHist.csv");
    g_fake.files.erase("timeline.jsonl");
    g_fake.nReadChunk = 7;  // frames arrive in pieces
    EXPECT_EQ(RunSplit(), 0);
    EXPECT_EQ(g_fake.History(), strHistory);
    EXPECT_EQ(g_fake.files["timeline.jsonl"].strContent, strTimeline);
}

TEST_F(SplitRun, ADamagedRowIsSaid)
{
    AddLog("a.log", Virus("A1") + "\n" + Virus("A2") + "\n" + Virus("A3"));
    g_fake.shortAppends.insert(1);
    g_fake.nTruncateFailures = 2;
    g_fake.runPart = plat::kRunReader;
    EXPECT_EQ(Run(), kExitSuccess);  // the reader sent every row
    g_fake.runPart = plat::kRunWriter;
    EXPECT_EQ(Run(), kExitRowDamaged);
    EXPECT_TRUE(g_fake.bReaderEnded);
    ASSERT_FALSE(g_fake.errorLines.empty());
    EXPECT_NE(g_fake.errorLines.back().find("VirusHist.csv: a row was written in part and could not be cut back ("),
              std::string::npos) << g_fake.errorLines.back();
}

TEST_F(SplitRun, AReaderThatRefusesTouchesNothing)
{
    g_fake.homeValue.reset();
    EXPECT_EQ(RunSplit(), 1);
    EXPECT_EQ(g_fake.files.count("VirusHist.csv") + g_fake.files.count("timeline.jsonl"), 0u);
    EXPECT_EQ(g_fake.errorLines.size(), 0u);  // the message box, not a line
    g_fake.runPart = plat::kRunRefused;
    EXPECT_EQ(Run(), 7);
    EXPECT_EQ(g_fake.files.count("VirusHist.csv"), 0u);
}

TEST_F(SplitRun, ARefusedCallMakesTheRunIncomplete)
{
    AddLog("a.log", Virus("One") + "\r\n");
    g_fake.bReadingRefused = true;
    EXPECT_EQ(RunSplit(), 4);
    EXPECT_EQ(Names(), std::vector<std::string>{"One"});
}

TEST_F(SplitRun, WhatNoSoundReaderSendsEndsIt)
{
    const std::string strRow = "d,f,One,l,a,c,u,,s,o,t,sc,x\r\n";
    const std::string strOpen = Frame(kFrameOpened);
    const struct {
        const char* szCase;
        std::string strFrames;
        const char* szLine;        // in the writer's last line
        std::size_t nRowsKept;
        bool bTimeline = true;     // whether the run asks for a timeline
    } aCases[] = {
        {"an unknown type", strOpen + Frame(kFrameRow, strRow) + "\x09\0\0\0\0"s, "unknown type 9", 1},
        {"a row before the system is open", Frame(kFrameRow, strRow), "before the system is open", 0},
        {"a row of 12 fields", strOpen + Frame(kFrameRow, "a,b,c,d,e,f,g,h,i,j,k,l\r\n"), "not 13 whole fields", 0},
        {"a row with a bare quote", strOpen + Frame(kFrameRow, "d,f,O\"ne,l,a,c,u,,s,o,t,sc,x\r\n"),
         "not 13 whole fields", 0},
        {"a row without its line end", strOpen + Frame(kFrameRow, "d,f,One,l,a,c,u,,s,o,t,sc,x"),
         "not 13 whole fields", 0},
        {"records cut short", strOpen + Frame(kFrameRecords, "{\"a\":1}\n{\"b\""), "not whole", 0},
        {"records where no timeline was asked for", strOpen + Frame(kFrameRecords, "{\"a\":1}\n") + End(0),
         "where no timeline was asked for", 0, false},
        {"an end without its status", strOpen + Frame(kFrameEnd), "5 and 0 bytes", 0},
        {"a length beyond its bound", strOpen + "\x04\xff\xff\xff\x00"s, "4 and 16777215 bytes", 0},
        {"a status only the writer has", strOpen + End(2), "exit status of 2", 0},
        {"a refusal once open", strOpen + End(1), "exit status of 1", 0},
        {"a frame after the last", strOpen + Frame(kFrameRow, strRow) + End(0) + Frame(kFrameRow, strRow),
         "after the reader's last", 1},
        {"opened twice", strOpen + strOpen, "open twice", 0},
        {"a file asked for once the system is open", strOpen + Frame(kFrameAskFile, "base.qcow2"),
         "asked for once the system is open", 0},
        {"a file asked for by a path", Frame(kFrameAskFile, "../x/base.qcow2"), "by no plain name", 0},
        {"a file asked for as ..", Frame(kFrameAskFile, ".."), "by no plain name", 0},
        {"a file asked for by no name", Frame(kFrameAskFile), "by no plain name", 0},
        {"a file asked for where no image is read", Frame(kFrameAskFile, "base.qcow2"), "no image read needs", 0},
        {"no last frame", strOpen + Frame(kFrameRow, strRow), "ended before it was done (killed by signal 9)", 1},
        {"progress before the system is open", Progress(1, 0, 0, 0, 0, kLogs) + strOpen, "progress before", 0},
        {"progress cut short", strOpen + Frame(kFrameProgress, "\x01\0\0\0"s), "progress that no reading makes", 0},
        {"a log counted twice", strOpen + Progress(1, 1, 0, 1, 0, kLogs), "progress that no reading makes", 0},
        {"a missing folder with logs", strOpen + Progress(1, 0, 0, 0, 2, kLogs), "progress that no reading makes", 0},
        {"an unknown state", strOpen + Progress(0, 0, 0, 0, 3, kLogs), "progress that no reading makes", 0},
        {"an escape in the search", strOpen + Progress(0, 0, 0, 0, 1, "C:\\\x1b[2J\\*.log"),
         "progress that no reading makes", 0},
        {"a search that is no UTF-8", strOpen + Progress(0, 0, 0, 0, 1, "C:\\\xe9\\*.log"),
         "progress that no reading makes", 0},
        {"a C1 control in the search", strOpen + Progress(0, 0, 0, 0, 1, "C:\\\xc2\x9b" "2J\\*.log"),
         "progress that no reading makes", 0},
        {"progress beyond its bound", strOpen + "\x07\xe8\x03\0\0"s, "7 and 1000 bytes", 0},
    };
    for (const auto& test : aCases) {
        SetUp();
        if (!test.bTimeline)
            SetTimeline("");
        g_fake.strReaderDied = "killed by signal 9";
        EXPECT_EQ(RunWriter(test.strFrames), 4) << test.szCase;
        ASSERT_FALSE(g_fake.errorLines.empty()) << test.szCase;
        EXPECT_NE(g_fake.errorLines.back().find(test.szLine), std::string::npos)
            << test.szCase << ": " << g_fake.errorLines.back();
        EXPECT_EQ(Names().size(), test.nRowsKept) << test.szCase;
    }
}

TEST_F(SplitRun, TheReadersLinesAreWrittenAsText)
{
    EXPECT_EQ(RunWriter(Frame(kFrameLine, "virushist: x: \x1b]0;owned\x07 name\x7f \xc2\x9b" "2J \x9b \xe2\x80\xae" "exe "
                                               "\xc3\xa9") + End(7)), 7);
    EXPECT_EQ(g_fake.errorLines, std::vector<std::string>{"virushist: x: ?]0;owned? name? ?2J ? ?exe \xc3\xa9"});
    EXPECT_EQ(g_fake.files.count("VirusHist.csv"), 0u);
}

// A run watched at a terminal: its summary closes the lines a run into a pipe
// writes, which are the same without it; the outputs are the same bytes; the
// reader sends its counts only when watched, and the clock is read only then.
TEST_F(SplitRun, AtATerminalTheSummaryClosesTheRun)
{
    const struct {
        const char* szCase;
        std::function<void()> setUp;
        std::vector<std::string> astrArgs;
        std::string strSummary;
        int nStatus;
    } aCases[] = {
        {"every log read",
         [this] {
             AddLog("a.log", Virus("A1") + "\r\n1F0B19000000,2,0,1,PC,user\r\n" + Virus("A2") + "\r\n");
             AddLog("b.log", Virus("B1"));
         },
         {}, kLogs + ": 2 logs read, 3 rows written, 4 timeline records", 0},
        {"one log not opened, one read in part",
         [this] {
             AddLog("a.log", Virus("A1"));
             g_fake.files[kLogs + "\\a.log"].bOpenFails = true;
             AddLog("b.log", Virus("B1") + "\n" + Virus("B2") + "\n" + Virus("B3"));
             g_fake.files[kLogs + "\\b.log"].nReadFailsAt = 150;
             g_fake.nReadChunk = 100;
             AddLog("c.log", Virus("C1"));
         },
         {}, kLogs + ": 1 of 3 logs read, 2 rows written, 2 timeline records; 1 read in part, 1 not read", 4},
        {"no log matches", [] { g_fake.AddFolder(kLogs); }, {}, "no log matches *.log in " + kLogs, 0},
        {"the logs folder missing", [] {}, {}, "the logs folder " + kLogs + " does not exist", 0},
        {"the pattern's folder missing", [] { g_fake.AddFolder(kLogs); }, {"old\\*.log"},
         "the logs folder " + kLogs + "\\old does not exist", 0},
    };
    for (const auto& test : aCases) {
        for (const bool bSplit : {false, true}) {
            const std::string strCase = std::string(test.szCase) + (bSplit ? ", split" : ", whole");
            std::vector<std::string> astrLines[2], astrHistory[2];
            for (const bool bTerminal : {false, true}) {
                SetUp();
                test.setUp();
                g_fake.bTerminal = bTerminal;
                std::vector<std::string> astrArgs = test.astrArgs;
                if (bSplit) {
                    if (!astrArgs.empty())
                        continue;  // the split run's helper takes none
                    EXPECT_EQ(RunSplit(), test.nStatus) << strCase;
                    EXPECT_EQ(FramesOf(kFrameProgress), bTerminal ? 1 : 0) << strCase;
                } else {
                    EXPECT_EQ(Run(astrArgs), test.nStatus) << strCase;
                }
                EXPECT_EQ(g_fake.nClockReads > 0, bTerminal) << strCase;
                EXPECT_FALSE(g_fake.bProgressShown) << strCase;
                astrLines[bTerminal] = g_fake.errorLines;
                astrHistory[bTerminal] = {g_fake.History(), g_fake.files["timeline.jsonl"].strContent};
            }
            if (bSplit && !test.astrArgs.empty())
                continue;
            EXPECT_EQ(astrHistory[1], astrHistory[0]) << strCase;
            ASSERT_EQ(astrLines[1].size(), astrLines[0].size() + 1) << strCase;
            EXPECT_EQ(astrLines[1].back(), "virushist: fake system: " + test.strSummary) << strCase;
            astrLines[1].pop_back();
            EXPECT_EQ(astrLines[1], astrLines[0]) << strCase;
        }
    }
}

// Progress: shown once the run has taken a second, a line a few times a second,
// by a clock read per read of a log and per log, never per line; sent by a
// reader as frames; cleared at the end.
TEST_F(SplitRun, AtATerminalProgressIsShownAfterASecond)
{
    std::string strLog;
    for (int i = 0; i < 20000; ++i)
        strLog += (i % 4 == 0 ? Virus("V") : "1F0B19000000,2,0,1,PC,user") + "\r\n";
    AddLog("a.log", strLog);
    AddLog("b.log", strLog);
    const std::size_t nReads = 2 * (strLog.size() / g_fake.nReadChunk + 1);
    for (const bool bSplit : {false, true}) {
        SetUp();
        AddLog("a.log", strLog);
        AddLog("b.log", strLog);
        g_fake.bTerminal = true;
        g_fake.nClockStep = 200;
        EXPECT_EQ(bSplit ? RunSplit() : Run(), 0);
        EXPECT_LE(static_cast<std::size_t>(g_fake.nClockReads), 2 * (nReads + 2) + 2) << bSplit;
        if (bSplit) {
            EXPECT_GE(FramesOf(kFrameProgress), 2) << "a few while reading, and the last";
        }
        ASSERT_GE(g_fake.progressLines.size(), 2u) << bSplit;
        EXPECT_EQ(g_fake.progressLines.front().rfind("virushist: 0 of 2 logs, ", 0), 0u)
            << g_fake.progressLines.front();
        EXPECT_NE(g_fake.progressLines.front().find(" MiB read, "), std::string::npos);
        EXPECT_NE(g_fake.progressLines.front().find(" timeline records"), std::string::npos);
        EXPECT_FALSE(g_fake.bProgressShown);
    }
}

// A run that ends with no line after its progress (its reader said no last
// counts) leaves none of it on the screen.
TEST_F(SplitRun, AtATerminalProgressIsClearedAtTheEnd)
{
    g_fake.bTerminal = true;
    g_fake.nClockStep = 600;
    std::string strFrames = Frame(kFrameOpened);
    for (int i = 0; i < 4; ++i)
        strFrames += Progress(2, 0, 0, 0, kProgressReading, kLogs + "\\*.log");
    EXPECT_EQ(RunWriter(strFrames + End(0)), 0);
    EXPECT_FALSE(g_fake.progressLines.empty());
    EXPECT_TRUE(g_fake.errorLines.empty());
    EXPECT_FALSE(g_fake.bProgressShown);
}

// Each line of a records frame is one JSON object, of well-formed UTF-8, with no
// raw control character but DEL (which the timeline writer copies from a log).
TEST(FrameRecords, EachLineIsOneJsonObject)
{
    auto nested = [](int nDepth) {
        std::string strRecord;
        for (int i = 0; i < nDepth; ++i)
            strRecord += "{\"a\":";
        return strRecord.replace(strRecord.size() - 5, 5, "{}") + std::string(nDepth - 1, '}') + "\n";
    };
    const struct {
        const char* szCase;
        std::string strRecords;
        bool bWhole;
    } aCases[] = {
        {"every kind of value",
         "{\"s\":\"a\",\"n\":-1.5e+3,\"z\":0,\"e\":2E-7,\"t\":true,\"f\":false,\"u\":null,\"a\":[1,[],{}],\"o\":{\"k\":\"v\"}}\n",
         true},
        {"every escape", "{\"e\":\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u001B \\ud83d\\ude00\"}\n", true},
        {"UTF-8 of each length, to U+10FFFF", "{\"u\":\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf\"}\n", true},
        {"a DEL in a string", "{\"d\":\"a\x7f" "b\"}\n", true},
        {"a C1 control escaped", "{\"c\":\"\\u009b2J\"}\n", true},
        {"a C1 control raw", "{\"c\":\"\xc2\x9b" "2J\"}\n", false},
        {"a direction override raw", "{\"c\":\"gpj.\xe2\x80\xae" "exe\"}\n", false},
        {"a direction isolate raw", "{\"c\":\"\xe2\x81\xa6\"}\n", false},
        {"a character beside them", "{\"c\":\"\xc2\xa0\xe2\x80\xaf\xe2\x81\xaa\"}\n", true},
        {"spaces between tokens", "{ \"a\" : [ 1 , 2 ] }\n", true},
        {"two records", "{}\n{\"a\":1}\n", true},
        {"nested 64 deep", nested(64), true},
        {"nested 65 deep", nested(65), false},
        {"braces beyond the object", "{\"a\":1}}}\n", false},
        {"no JSON between the braces", "{ not json at all }\n", false},
        {"an ESC in a string", "{\"a\":\"\x1b[2J\"}\n", false},
        {"a DEL between tokens", "{\"a\":\x7f" "1}\n", false},
        {"a tab between tokens", "{\"a\":\t1}\n", false},
        {"a CR before the LF", "{\"a\":1}\r\n", false},
        {"a space before the object", " {}\n", false},
        {"a space after the object", "{} \n", false},
        {"an array", "[1]\n", false},
        {"two objects on a line", "{}{}\n", false},
        {"an empty line", "{}\n\n", false},
        {"no LF at the end", "{}\n{}", false},
        {"a trailing comma", "{\"a\":1,}\n", false},
        {"a key that is no string", "{a:1}\n", false},
        {"a key without its value", "{\"a\"}\n", false},
        {"a leading zero", "{\"a\":01}\n", false},
        {"a fraction without digits", "{\"a\":1.}\n", false},
        {"an exponent without digits", "{\"a\":1e+}\n", false},
        {"a minus alone", "{\"a\":-}\n", false},
        {"a word cut short", "{\"a\":tru}\n", false},
        {"a string the line ends in", "{\"a\":\"b}\n", false},
        {"an unknown escape", "{\"a\":\"\\x41\"}\n", false},
        {"a short \\u escape", "{\"a\":\"\\u12\"}\n", false},
        {"a high surrogate alone", "{\"a\":\"\\ud800x\"}\n", false},
        {"a low surrogate alone", "{\"a\":\"\\udc00\"}\n", false},
        {"a high surrogate before another", "{\"a\":\"\\ud800\\ud800\"}\n", false},
        {"an overlong slash", "{\"a\":\"\xc0\xaf\"}\n", false},
        {"an overlong of three bytes", "{\"a\":\"\xe0\x80\xaf\"}\n", false},
        {"an overlong of four bytes", "{\"a\":\"\xf0\x8f\xbf\xbf\"}\n", false},
        {"a surrogate in UTF-8", "{\"a\":\"\xed\xa0\x80\"}\n", false},
        {"beyond U+10FFFF", "{\"a\":\"\xf4\x90\x80\x80\"}\n", false},
        {"a continuation byte alone", "{\"a\":\"\x80\"}\n", false},
        {"a character cut short", "{\"a\":\"\xe2\x82\"}\n", false},
        {"a byte no UTF-8 has", "{\"a\":\"\xff\"}\n", false},
    };
    for (const auto& test : aCases)
        EXPECT_EQ(AreWholeRecords(test.strRecords), test.bWhole) << test.szCase;
}

// Every outcome but success and "not installed" (its message box) says its cause:
// each case, the status and the words of the lines it must print.
TEST_F(Timeline, EveryFailureIsSaid)
{
    const struct {
        const char* szCase;
        std::function<void(ExportRun&)> arrange;
        std::vector<std::string> astrArgs;
        int nStatus;
        std::vector<std::string> astrWords;  // each in some line
    } aCases[] = {
        {"the resolver's platform error", [](ExportRun&) { g_fake.bSystemDirectoryFails = true; }, {},
         kExitNoDataFolder, {"data folder cannot be had"}},
        {"a home directory without room for logs",
         [](ExportRun&) {
             g_fake.dwPlatformId = 1;
             g_fake.homeValue = std::string(255, 'h') + '\0';
         },
         {}, kExitNoDataFolder, {"\\logs: longer than 259 characters"}},
        {"a pattern of 300 characters", [](ExportRun&) {}, {std::string(300, 'p')}, kExitPatternTooLong,
         {"pattern is longer than 259"}},
        {"a pattern without room beside the logs folder", [](ExportRun&) {}, {std::string(259 - kLogs.size(), 'p')},
         kExitPatternTooLong, {"does not fit in a path"}},
        {"a log that cannot be opened",
         [](ExportRun& run) {
             run.AddLog("a.log", Virus("A1"));
             g_fake.files[kLogs + "\\a.log"].bOpenFails = true;
         },
         {}, kExitIncomplete, {"\\a.log: not read ("}},
        {"a log whose read fails",
         [](ExportRun& run) {
             run.AddLog("c.log", Virus("C1") + "\n" + Virus("C2"));
             g_fake.files[kLogs + "\\c.log"].nReadFailsAt = 150;
             g_fake.nReadChunk = 100;
         },
         {}, kExitIncomplete, {"\\c.log: read in part (a read failed after line 1)"}},
        {"a line over 1 MiB", [](ExportRun& run) { run.AddLog("l.log", std::string((1 << 20) + 5, 'x')); }, {},
         kExitIncomplete, {"\\l.log: a line longer than"}},
        {"a log path that does not fit",
         [](ExportRun& run) { run.AddLog(std::string(259 - kLogs.size(), 'n'), Virus("LONG")); }, {},
         kExitIncomplete, {": not read (its path is longer than 259 characters)"}},
        {"rows not written",
         [](ExportRun& run) {
             run.AddLog("a.log", Virus("A1") + "\n" + Virus("A2") + "\n" + Virus("A3"));
             g_fake.failedAppendOpens = {1, 2};
         },
         {}, kExitIncomplete, {"VirusHist.csv: a row could not be written", "VirusHist.csv: 2 rows were not written"}},
        {"the history file not creatable", [](ExportRun&) { g_fake.unwritable.insert("VirusHist.csv"); }, {},
         kExitOutputNotCreatable, {"VirusHist.csv: cannot be created or written"}},
        {"a timeline named as the history file", [](ExportRun&) { SetTimeline("./virushist.csv"); },
         {}, kExitOutputNotCreatable, {"./virushist.csv: the timeline cannot be the history file"}},
    };
    for (const auto& test : aCases) {
        SetUp();
        test.arrange(*this);
        EXPECT_EQ(Run(test.astrArgs), test.nStatus) << test.szCase;
        std::string strLines;
        for (const std::string& strLine : g_fake.errorLines)
            strLines += strLine + "\n";
        for (const std::string& strWord : test.astrWords)
            EXPECT_NE(strLines.find(strWord), std::string::npos) << test.szCase << ": " << strLines;
        for (const std::string& strLine : g_fake.errorLines)
            EXPECT_EQ(strLine.rfind("virushist: fake system: ", 0), 0u) << test.szCase << ": " << strLine;
    }
}
