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

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "platform/posix/wine_prefix.h"

namespace {

// The simplest correct matcher, to check the real one against.
bool ReferenceMatch(const std::string& strPattern, const std::string& strName)
{
    if (strPattern.empty())
        return strName.empty();
    if (strPattern[0] == '*')
        return ReferenceMatch(strPattern.substr(1), strName) ||
               (!strName.empty() && ReferenceMatch(strPattern, strName.substr(1)));
    if (strName.empty())
        return false;
    char a = static_cast<char>(std::toupper(static_cast<unsigned char>(strPattern[0])));
    char b = static_cast<char>(std::toupper(static_cast<unsigned char>(strName[0])));
    return (strPattern[0] == '?' || a == b) && ReferenceMatch(strPattern.substr(1), strName.substr(1));
}

TEST(Wildcard, WindowsLongNameRules)
{
    const struct {
        const char* szPattern;
        const char* szName;
        bool bMatch;
    } aCases[] = {
        {"*.log", "a.log", true},    {"*.log", "A.LOG", true},  {"*.log", "a.logx", false},
        {"*.log", ".log", true},     {"*.*", "noext", true},    {"*.*", ".", true},
        {"*", "", true},             {"?.log", "ab.log", false}, {"?.log", "a.log", true},
        {"a*b*c", "aXbYc", true},    {"a*b*c", "aXbY", false},  {"**", "x", true},
        {"log?", "log", false},      {"*a", "bbba", true},      {"", "a", false},
    };
    for (const auto& test : aCases) {
        EXPECT_EQ(posix::MatchWildcard(test.szPattern, test.szName), test.bMatch)
            << test.szPattern << " " << test.szName;
    }
    const char* const aszParts[] = {"", "a", "A", "b", "*", "?", ".", "ab", "*a", "a?"};
    for (const char* a : aszParts)
        for (const char* b : aszParts)
            for (const char* c : aszParts) {
                std::string strPattern = std::string(a) + b + c;
                for (const char* x : aszParts)
                    for (const char* y : aszParts) {
                        std::string strName = std::string(x) + y;
                        if (strName.find_first_of("*?") != std::string::npos || strPattern == "*.*")
                            continue;
                        EXPECT_EQ(posix::MatchWildcard(strPattern, strName),
                                  ReferenceMatch(strPattern, strName))
                            << strPattern << " " << strName;
                    }
            }
}

TEST(Wildcard, NameOrderFollowsWine)
{
    std::vector<std::string> astrNames = {"~.log", "_x.log", "[.log", "Z.log", "y.log",
                                          "B.log", "A.LOG2", "a.log", "a b.log"};
    std::sort(astrNames.begin(), astrNames.end(), posix::NameLess);
    EXPECT_EQ(astrNames, (std::vector<std::string>{"a b.log", "a.log", "A.LOG2", "B.log", "y.log",
                                                   "Z.log", "[.log", "_x.log", "~.log"}));
}

TEST(SystemReg, FindsValues)
{
    const std::string strFile =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
        "[Software\\\\Other] 1\n\"Home Directory\"=\"wrong\"\n\n"
        "[Software\\\\Ordvane\\\\Pellmoor\\\\Scarnel6\\\\CurrentVersion] 1733650000\n"
        "#time=1db4\n"
        "\"Home Directory\"=\"C:\\\\Program Files\\\\Tarvel \\\"q\\\" \\xe9\\x4e2d\"\n"
        "\"Dw\"=dword:0000002a\n"
        "\"Bin\"=hex:41,42,\\\n  43\n"
        "\"NoZero\"=hex(1):41,00,42,00\n"
        "\"Expand\"=str(2):\"%x%\"\n"
        "@=\"default\"\n"
        "\n[Software\\\\Test\\[x\\]] 1\n\"V\"=\"in brackets\"\n";
    const struct {
        const char* szKey;
        const char* szValue;
        bool bFound;
        std::string strData;
        uint32_t dwType;
    } aCases[] = {
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Home Directory", true,
         std::string("C:\\Program Files\\Tarvel \"q\" \xe9?") + '\0', 1},
        {"SOFTWARE\\ordvane\\PELLMOOR\\scarnel6\\currentversion", "home directory", true,
         std::string("C:\\Program Files\\Tarvel \"q\" \xe9?") + '\0', 1},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Dw", true,
         std::string("\x2a\0\0\0", 4), 4},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Bin", true, "ABC", 3},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "NoZero", true, "AB", 1},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Expand", true,
         std::string("%x%") + '\0', 2},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "", true,
         std::string("default") + '\0', 1},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Missing", false, "", 0},
        {"Software\\Ordvane\\Pellmoor\\Scarnel6", "Home Directory", false, "", 0},
        {"Software\\Test[x]", "V", true, std::string("in brackets") + '\0', 1},
    };
    for (const auto& test : aCases) {
        std::string strData;
        uint32_t dwType = 0;
        bool bFound = posix::FindRegistryValue(strFile, test.szKey, test.szValue, strData, dwType);
        EXPECT_EQ(bFound, test.bFound) << test.szKey << " " << test.szValue;
        if (bFound) {
            EXPECT_EQ(strData, test.strData) << test.szValue;
            EXPECT_EQ(dwType, test.dwType) << test.szValue;
        }
    }
}

// A throwaway Wine prefix with drive C: and a product key.
class Prefix : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vh-prefix-XXXXXX";
        m_strPrefix = mkdtemp(szTemplate);
        ::mkdir((m_strPrefix + "/dosdevices").c_str(), 0755);
        ::mkdir((m_strPrefix + "/drive_c").c_str(), 0755);
        EXPECT_EQ(::symlink("../drive_c", (m_strPrefix + "/dosdevices/c:").c_str()), 0);
        setenv("WINEPREFIX", m_strPrefix.c_str(), 1);
    }
    void TearDown() override
    {
        std::string strCommand = "rm -rf '" + m_strPrefix + "'";
        EXPECT_EQ(std::system(strCommand.c_str()), 0);
    }
    void Make(const std::string& strPath, const char* szContent = nullptr)
    {
        std::string strHost = m_strPrefix + "/drive_c/" + strPath;
        if (szContent)
            std::ofstream(strHost, std::ios::binary) << szContent;
        else
            ::mkdir(strHost.c_str(), 0755);
    }
    std::vector<std::string> List(const char* szPattern)
    {
        std::vector<std::string> astrNames;
        plat::FindData data{};
        plat::Search* pSearch = plat::FindFirst(szPattern, &data);
        if (pSearch == nullptr)
            return astrNames;
        do
            astrNames.push_back(std::string(data.cFileName) +
                                (data.dwFileAttributes & plat::kAttributeDirectory ? "/" : ""));
        while (plat::FindNext(pSearch, &data));
        plat::CloseSearch(pSearch);
        return astrNames;
    }
    std::string m_strPrefix;
};

TEST_F(Prefix, SearchInWineOrderWithCaseInsensitiveFolders)
{
    Make("Logs");
    for (const char* szName : {"zeta.log", "Alpha.log", "mid.LOG", "b.logx", "c.txt"})
        Make(std::string("Logs/") + szName, "x");
    Make("Logs/dir.log");
    EXPECT_EQ(List("C:\\LOGS\\*.log"),
              (std::vector<std::string>{"Alpha.log", "dir.log/", "mid.LOG", "zeta.log"}));
    EXPECT_EQ(List("c:/logs/*.*"), (std::vector<std::string>{"./", "../", "Alpha.log", "b.logx",
                                                             "c.txt", "dir.log/", "mid.LOG",
                                                             "zeta.log"}));
    EXPECT_EQ(List("C:\\logs\\ZETA.LOG"), std::vector<std::string>{"zeta.log"});
    EXPECT_TRUE(List("C:\\logs\\none*").empty());
    EXPECT_TRUE(List("C:\\missing\\*.log").empty());
    EXPECT_TRUE(List("C:\\logs\\").empty());
    // The drive root has no "." and "..".
    EXPECT_EQ(List("C:\\*.*"), std::vector<std::string>{"Logs/"});
}

TEST_F(Prefix, FilesOpenByTheirWindowsNames)
{
    Make("Data");
    Make("Data/Report.TXT", "hello");
    plat::File* pFile = plat::OpenForRead("C:\\data\\report.txt");
    ASSERT_NE(pFile, nullptr);
    char achBuffer[16];
    EXPECT_EQ(plat::ReadBytes(pFile, achBuffer, sizeof(achBuffer)), 5);
    EXPECT_EQ(plat::ReadBytes(pFile, achBuffer, sizeof(achBuffer)), 0);
    plat::CloseFile(pFile);
    EXPECT_EQ(plat::OpenForRead("C:\\data\\missing.txt"), nullptr);
    EXPECT_EQ(plat::OpenForRead("C:\\data"), nullptr);  // a folder is no file

    // Appending and cutting back.
    plat::File* pOut = plat::OpenForAppend("C:\\DATA\\report.txt");
    ASSERT_NE(pOut, nullptr);
    EXPECT_EQ(plat::AppendFile(pOut, ",more", 5), 5);
    EXPECT_EQ(plat::FileSize(pOut), 10);
    EXPECT_TRUE(plat::TruncateFile(pOut, 7));
    plat::CloseFile(pOut);
    std::ifstream in(m_strPrefix + "/drive_c/Data/Report.TXT", std::ios::binary);
    std::string strContent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(strContent, "hello,m");
    EXPECT_EQ(plat::CreateForWrite("C:\\Data"), nullptr);
}

TEST_F(Prefix, RegistryFromSystemReg)
{
    unsigned char abyData[256];
    uint32_t nSize = sizeof(abyData);
    const char* szKey = "Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion";
    EXPECT_NE(plat::QueryMachineValue(szKey, "Home Directory", abyData, &nSize), 0u);  // no file
    std::ofstream(m_strPrefix + "/system.reg")
        << "WINE REGISTRY Version 2\n\n[Software\\\\Ordvane\\\\Pellmoor\\\\Scarnel6\\\\CurrentVersion] 1\n"
        << "\"Home Directory\"=\"" << std::string(255, 'h') << "\"\n\"Long\"=\""
        << std::string(256, 'h') << "\"\n";
    nSize = sizeof(abyData);
    EXPECT_EQ(plat::QueryMachineValue(szKey, "Home Directory", abyData, &nSize), 0u);
    EXPECT_EQ(nSize, 256u);
    EXPECT_EQ(abyData[255], 0);
    nSize = sizeof(abyData);
    EXPECT_EQ(plat::QueryMachineValue(szKey, "Long", abyData, &nSize), 234u);
}

TEST(PosixPlatform, WineAnswers)
{
    std::string strDate = "x";
    plat::FormatShortDate(2001, 2, 29, 0, 0, 0, strDate);
    EXPECT_EQ(strDate, "");

    char szPath[260];
    ASSERT_GT(plat::QuerySystemDirectory(szPath, sizeof(szPath)), 0u);
    EXPECT_EQ(std::string(szPath), "C:\\windows\\system32");
    uint32_t dwPlatform = 0, dwMajor = 0;
    EXPECT_TRUE(plat::QueryVersion(&dwPlatform, &dwMajor));
    EXPECT_EQ(dwPlatform, 2u);
    EXPECT_EQ(dwMajor, 6u);
    plat::Library* pLibrary = plat::OpenLibrary("C:\\windows\\system32\\SHFOLDER.DLL");
    ASSERT_NE(pLibrary, nullptr);
    EXPECT_EQ(plat::FindFolderPathProc(pLibrary, "Other"), nullptr);
    plat::FolderProc* pProc = plat::FindFolderPathProc(pLibrary, "SHGetFolderPathA");
    ASSERT_NE(pProc, nullptr);
    EXPECT_EQ(plat::CallFolderPathProc(pProc, 0x23, szPath), 0);
    EXPECT_EQ(std::string(szPath), "C:\\ProgramData");
    EXPECT_EQ(plat::CallFolderPathProc(pProc, 0x801C, szPath), 0);
    EXPECT_EQ(std::string(szPath).rfind("C:\\users\\", 0), 0u);
    EXPECT_LT(plat::CallFolderPathProc(pProc, 0x05, szPath), 0);
    plat::CloseLibrary(pLibrary);
    EXPECT_EQ(plat::OpenLibrary("C:\\windows\\system32\\other.dll"), nullptr);
    EXPECT_EQ(plat::LastError(), 126u);
}

}  // namespace
#endif
