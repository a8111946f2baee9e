// The catalogue and the display texts of a log entry.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "export/catalogue.h"
#include "export/virus_type_flags.h"
#include "logentry/log_entry.h"
#include "resources/resource.h"
#include "resources/string_table.h"
#include "tests/fake_platform.h"

namespace {

TEST(Catalogue, HoldsEveryTextExactly)
{
    const std::pair<uint32_t, const char*> aTexts[] = {
        {31, "Clean virus from file"}, {32, "Quarantine infected file"},
        {33, "Rename infected file"},  {34, "Delete infected file"},
        {35, "Leave alone (log only)"}, {38, "Mail System"},
        {41, "Checksum Failure"},      {43, "Cleaned"},
        {44, "Infected"},              {45, "Quarantine"},
        {60, "Clean or delete macros"}, {66, "Cleaned or Macros Deleted"},
        {67, "Unknown action"},        {3000, "Client"},
        {3001, "Scheduled scan"},      {3002, "Manual scan"},
        {3003, "Realtime scan"},       {3004, "Sealweir"},
        {3005, "Console"},             {3006, "Definition downloader"},
        {3007, "System"},              {3008, "Startup"},
        {3009, "Idle scan"},           {3010, "Forwarded"},
        {4000, "Quarantined"},         {4001, "Renamed"},
        {4002, "Deleted"},             {4003, "Left alone"},
        {4004, "Cleaned"},             {5000, "Boot sector"},
        {5001, "Mutation"},            {5002, "Macro"},
        {5003, "Memory resident"},     {5004, "Virus behavior"},
        {5005, "Compressed file"},     {5006, "File"},
        {57668, "Backup"},
    };
    EXPECT_EQ(g_nCatalogueSize, sizeof(aTexts) / sizeof(aTexts[0]));
    for (const auto& text : aTexts) {
        std::string strText = "previous";
        EXPECT_TRUE(LoadCatalogueString(strText, text.first));
        EXPECT_EQ(strText, text.second) << text.first;
    }
    std::string strText = "Cleaned";
    EXPECT_FALSE(LoadCatalogueString(strText, 30));
    EXPECT_EQ(strText, "");
    EXPECT_FALSE(LoadCatalogueString(strText, 0x10000 + 31));  // ids are 16-bit
}

TEST(ScanType, LowHalfSelectsTheHighHalf)
{
    const struct {
        uint32_t dwWord;
        const char* szText;
    } aCases[] = {
        {0, "Scheduled scan"},          {1, "Manual scan"},        {2, "Realtime scan"},
        {3, "Sealweir"},                {6, "Console"},            {7, "Definition downloader"},
        {8, "System"},                  {9, "Startup"},            {10, "Idle scan"},
        {4, ""},                        {5, ""},                   {11, ""},
        {101, "Scheduled scan"},        {101 | 1u << 16, "Manual scan"},
        {101 | 101u << 16, "Client"},   {102 | 102u << 16, "Forwarded"},
        {102 | 101u << 16, "Client"},   {101 | 4u << 16, ""},
        {0 | 101u << 16, "Scheduled scan"}, {2 | 102u << 16, "Realtime scan"},
        {0xFFFFFFFF, ""},
    };
    for (const auto& test : aCases) {
        CLogEntry entry;
        entry.m_nScanType = static_cast<int32_t>(test.dwWord);
        std::string strText;
        entry.GetScanTypeText(strText);
        EXPECT_EQ(strText, test.szText) << std::hex << test.dwWord;
    }
}

TEST(Action, TakenAndConfiguredForms)
{
    const struct {
        int32_t nAction;
        const char* szTaken;
        const char* szConfigured;
    } aCases[] = {
        {1, "Quarantined", "Quarantine infected file"},
        {2, "Renamed", "Rename infected file"},
        {3, "Deleted", "Delete infected file"},
        {4, "Left alone", "Leave alone (log only)"},
        {5, "Cleaned", "Clean virus from file"},
        {6, "Cleaned or Macros Deleted", "Clean or delete macros"},
        {13, "Backup", "Backup"},
        {0, "Unknown action", "Unknown action"},
        {7, "Unknown action", "Unknown action"},
        {12, "Unknown action", "Unknown action"},
        {14, "Unknown action", "Unknown action"},
        {-1, "Unknown action", "Unknown action"},
        {INT32_MIN, "Unknown action", "Unknown action"},
    };
    CLogEntry entry;
    for (const auto& test : aCases) {
        EXPECT_EQ(entry.GetActionText(test.nAction, 1), test.szTaken) << test.nAction;
        EXPECT_EQ(entry.GetActionText(test.nAction, -5), test.szTaken) << test.nAction;
        EXPECT_EQ(entry.GetActionText(test.nAction, 0), test.szConfigured) << test.nAction;
    }
}

TEST(VirusType, NamesInOrder)
{
    const struct {
        uint32_t dwType;
        const char* szText;
    } aCases[] = {
        {0, "Checksum Failure"},
        {0x1, "Boot sector"},
        {0x100, "File"},
        {0x300, "File; Mutation"},
        {0x500, "File; Macro"},
        {0x101 | 0x200, "Boot sector; File; Mutation"},
        {0x700, "File; Mutation; Macro"},
        {0x80000001, "Boot sector; Compressed file"},
        {0x80000000, "Compressed file"},
        {0x10000, "Memory resident"},
        {0x1000000, "Virus behavior"},
        {0x200, ""},
        {0x400, ""},
        {0x2, ""},
        {0xFFFFFFFF, "Boot sector; File; Mutation; Macro; Memory resident; Virus behavior; "
                     "Compressed file"},
    };
    for (const auto& test : aCases) {
        EXPECT_EQ(CVirusTypeFlags(test.dwType).GetText(), test.szText) << std::hex << test.dwType;
        CLogEntry entry;
        entry.m_nVirusType = static_cast<int32_t>(test.dwType);
        std::string strText;
        entry.GetVirusTypeText(strText);
        EXPECT_EQ(strText, test.szText);
        EXPECT_EQ(entry.GetVirusTypeText(), test.szText);
    }
}

TEST(VirusType, KeptTextsMatchTheBuiltOnes)
{
    // The texts are kept by the names they show: words that share those names must
    // share the text, and words that do not must not.
    uint32_t dwType = 12345;
    for (int i = 0; i < 5000; ++i) {
        dwType = dwType * 1103515245u + 12345u;
        // Mostly few bits, as logs have them, and now and then every bit.
        const uint32_t dwWord = i % 7 == 0 ? dwType : dwType & (dwType >> 7) & (dwType >> 13);
        const CVirusTypeFlags flags(dwWord);
        ASSERT_EQ(flags.GetTextView(), flags.GetText()) << std::hex << dwWord;
    }
}

TEST(Paths, SplitIntoFileNameAndLocation)
{
    const struct {
        const char* szPath;
        bool bContainer;
        const char* szFileName;
        const char* szLocation;
    } aCases[] = {
        {"C:\\Data\\report.doc", false, "report.doc", "C:\\Data\\"},
        {"report.doc", false, "report.doc", "report.doc"},
        {"C:\\Data\\", false, "", "C:\\Data\\"},
        {"", false, "", ""},
        {"C:\\Mail\\box.zip>docs\\a.doc", true, "a.doc", "C:\\Mail\\box.zip>docs\\"},
        // A member without a backslash: the location is the container, ">" cut.
        {"C:\\Mail\\box.zip>a.doc", true, "a.doc", "C:\\Mail\\box.zip"},
        {"C:\\Mail\\box.zip", true, "", ""},
        {">a.doc", true, "a.doc", ""},
        {"C:\\Mail\\box.zip>", true, "", "C:\\Mail\\box.zip"},
        {"a.zip>b.zip>c\\d.doc", true, "d.doc", "a.zip>b.zip>c\\"},
        {"C:\\x>y\\z.zip>m.doc", true, "m.doc", "C:\\x>y\\z.zip"},
        // Plain form splits at the last backslash even with ">" in the path.
        {"C:\\Mail\\box.zip>a.doc", false, "box.zip>a.doc", "C:\\Mail\\"},
    };
    for (const auto& test : aCases) {
        CLogEntry entry;
        entry.m_strPath = test.szPath;
        entry.m_nContainerFlag = test.bContainer ? 1 : 0;
        entry.m_nContainerLevel = test.bContainer ? 2 : 0;
        std::string strFileName, strLocation;
        entry.GetFileNameText(strFileName);
        entry.GetLocationText(strLocation);
        EXPECT_EQ(strFileName, test.szFileName) << test.szPath;
        EXPECT_EQ(strLocation, test.szLocation) << test.szPath;
    }
}

TEST(Paths, TwoByteCharactersAreNoSeparators)
{
    // Trail bytes 0x5C ("\\") and 0x3E (">") of two-byte characters, in each double-byte
    // code page's lead-byte range, and none in a single-byte one.
    const struct {
        const char* szCodePage;
        std::set<unsigned char> leadBytes;
        std::string strPath;
        bool bContainer;
        std::string strFileName;
        std::string strLocation;
    } aCases[] = {
        // 932: "表" is 0x95 0x5C, "ソ" 0x83 0x5C.
        {"932 file name", {0x95, 0x83}, "C:\\Data\\\x95\x5c.doc", false, "\x95\x5c.doc", "C:\\Data\\"},
        {"932 folder", {0x95, 0x83}, "C:\\\x83\x5c\x83\x74\\a.doc", false, "a.doc", "C:\\\x83\x5c\x83\x74\\"},
        {"932 member", {0x95, 0x83}, "C:\\box.zip>d\\\x95\x5c", true, "\x95\x5c", "C:\\box.zip>d\\"},
        {"932 member without folder", {0x95, 0x83}, "C:\\box.zip>\x95\x5c", true, "\x95\x5c", "C:\\box.zip"},
        {"932 > after a two-byte character", {0x95}, "C:\\\x95\x5c>a.doc", true, "a.doc", "C:\\\x95\x5c"},
        {"932 trail byte >", {0x95}, "C:\\z.zip>\x95>.doc", true, "\x95>.doc", "C:\\z.zip"},
        {"932 lead byte last", {0x95}, "C:\\Data\\a\x95", false, "a\x95", "C:\\Data\\"},
        {"932 lead byte before the last backslash", {0x95}, "C:\\a\x95\\", false, "a\x95\\", "C:\\"},
        // 936, 949 and 950: lead bytes 0x81 to 0xFE, trail bytes from 0x40 on.
        {"936 file name", {0x81, 0xB1}, "C:\\\x81\x5c\\\xb1\x5c.txt", false, "\xb1\x5c.txt", "C:\\\x81\x5c\\"},
        {"949 folder", {0x81, 0xC7}, "D:\\\xc7\x5c\\x.doc", false, "x.doc", "D:\\\xc7\x5c\\"},
        {"950 file name", {0xA4, 0xB3}, "C:\\\xa4\x5c\xb3\x5c", false, "\xa4\x5c\xb3\x5c", "C:\\"},
        {"950 member", {0xA4}, "C:\\m.zip>\xa4\x5c\\b.doc", true, "b.doc", "C:\\m.zip>\xa4\x5c\\"},
        // 1252: no lead bytes, 0x95 is a character of its own.
        {"1252", {}, "C:\\Data\\\x95\x5c.doc", false, ".doc", "C:\\Data\\\x95\x5c"},
    };
    for (const auto& test : aCases) {
        g_fake = FakePlatform{};
        g_fake.leadBytes = test.leadBytes;
        CLogEntry entry;
        entry.m_strPath = test.strPath;
        entry.m_nContainerFlag = test.bContainer ? 1 : 0;
        entry.m_nContainerLevel = test.bContainer ? 1 : 0;
        std::string strFileName, strLocation;
        entry.SplitPath(strFileName, strLocation);
        EXPECT_EQ(strFileName, test.strFileName) << test.szCodePage;
        EXPECT_EQ(strLocation, test.strLocation) << test.szCodePage;
        EXPECT_EQ(entry.GetFileNameText(), test.strFileName) << test.szCodePage;
        EXPECT_EQ(entry.GetLocationText(), test.strLocation) << test.szCodePage;
    }
    g_fake = FakePlatform{};
}

TEST(Paths, ContainerFormNeedsBothFields)
{
    CLogEntry entry;
    entry.m_strPath = "C:\\Mail\\box.zip>a.doc";
    entry.m_nContainerFlag = 1;
    entry.m_nContainerLevel = 0;
    std::string strFileName;
    entry.GetFileNameText(strFileName);
    EXPECT_EQ(strFileName, "box.zip>a.doc");
}

TEST(Paths, MailSystemBit)
{
    CLogEntry entry;
    entry.m_strPath = "C:\\Data\\report.doc";
    entry.m_nFlags = 0x2000;
    std::string strFileName, strLocation, strCurrent;
    entry.GetFileNameText(strFileName);
    entry.GetLocationText(strLocation);
    EXPECT_EQ(strFileName, "report.doc");
    EXPECT_EQ(strLocation, "Mail System");
    for (int32_t nTaken : {0, 2, 4, 5, 6}) {
        entry.m_nActionTaken = nTaken;
        strCurrent.clear();
        entry.GetCurrentLocationText(strCurrent, IDS_QUARANTINE, IDS_DELETED);
        EXPECT_EQ(strCurrent, "Mail System") << nTaken;
    }
}

TEST(Status, RulesInOrder)
{
    const struct {
        int32_t nTaken, nFlag, nLevel;
        const char* szDescription;
        const char* szStatus;
        const char* szCurrent;
    } aCases[] = {
        {5, 1, 0, "desc", "Cleaned", "C:\\Data\\"},
        {3, 1, 0, "desc", "Deleted", "Deleted"},
        {1, 0, 0, "desc", "Infected", "Quarantine"},
        {1, 1, 0, "desc", "desc", "Quarantine"},
        {2, 1, 0, "", "Infected", "C:\\Data\\"},   // empty description
        {2, 1, 1, "desc", "Infected", "C:\\Data\\"},  // level set: no description rule
        {4, 0, 0, "desc", "Infected", "C:\\Data\\"},
    };
    for (const auto& test : aCases) {
        CLogEntry entry;
        entry.m_strPath = "C:\\Data\\report.doc";
        entry.m_nActionTaken = test.nTaken;
        entry.m_nContainerFlag = test.nFlag;
        entry.m_nContainerLevel = test.nLevel;
        entry.m_strDescription = test.szDescription;
        std::string strStatus, strCurrent;
        entry.GetStatusText(strStatus);
        entry.GetCurrentLocationText(strCurrent, IDS_QUARANTINE, IDS_DELETED);
        EXPECT_EQ(strStatus, test.szStatus) << test.nTaken;
        if (test.nFlag && test.nLevel)
            continue;  // container form: the location differs
        EXPECT_EQ(strCurrent, test.szCurrent) << test.nTaken;
    }
}

TEST(Date, ShortDateOfTheLogTime)
{
    g_fake = FakePlatform{};
    LOGTIME time{31, 11, 25, 23, 59, 59, 0};
    EXPECT_EQ(FormatLogDate(time), "2001-12-25");
    CLogEntry entry;
    entry.m_Time = time;
    std::string strText;
    entry.GetDateText(strText);
    EXPECT_EQ(strText, "2001-12-25");
    time.byMonth = 12;  // month 13
    EXPECT_EQ(FormatLogDate(time), "");
    time = LOGTIME{255, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(FormatLogDate(time), "2225-01-01");
}

}  // namespace
