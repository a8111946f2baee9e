// The platform contract: what the portable code relies on from the system, written
// once and run against both layers on the same Wine prefix (tests/run-contract):
// natively against the POSIX layer, and as a Windows executable under Wine against
// the Win32 layer. The prefix is made under en_US and holds the fixture below.
// Where Wine and our POSIX layer differ, the case says so and why.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

#if defined(_WIN32)
constexpr bool kWin32Layer = true;
#else
constexpr bool kWin32Layer = false;
#endif

constexpr const char* kKey = "Software\\VhContract";

// The names a search delivers, in its order; folders end in "/".
std::vector<std::string> List(const char* szPattern)
{
    std::vector<std::string> astrNames;
    plat::FindData data{};
    plat::Search* pSearch = plat::FindFirst(szPattern, &data);
    if (pSearch == nullptr)
        return astrNames;
    do
        astrNames.push_back(std::string(data.cFileName) +
                            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "/" : ""));
    while (plat::FindNext(pSearch, &data));
    plat::CloseSearch(pSearch);
    return astrNames;
}

// The whole content of a file, read through the platform.
std::string ReadAll(const char* szPath)
{
    std::string strContent;
    plat::File* pFile = plat::OpenForRead(szPath);
    if (pFile == nullptr)
        return "<none>";
    char achBuffer[64];
    long nRead;
    while ((nRead = plat::ReadBytes(pFile, achBuffer, sizeof(achBuffer))) > 0)
        strContent.append(achBuffer, static_cast<std::size_t>(nRead));
    plat::CloseFile(pFile);
    return strContent;
}

TEST(Search, WildcardsAndOrder)
{
    const struct {
        const char* szPattern;
        std::vector<std::string> astrNames;
    } aCases[] = {
        // Folders found in any letter case; names in the order Wine sorts them.
        {"C:\\VH-CONTRACT\\LOGS\\*.*",
         {"./", "../", "Alpha.log", "b.logx", "c.txt", "dir.log/", "mid.LOG", "zeta.log"}},
        {"c:/vh-contract/logs/?.txt", {"c.txt"}},
        {"C:\\vh-contract\\logs\\ZETA.LOG", {"zeta.log"}},
        {"C:\\vh-contract\\logs\\*a*", {"Alpha.log", "zeta.log"}},
        {"C:\\vh-contract\\logs\\none*", {}},
        {"C:\\vh-contract\\missing\\*.log", {}},
        {"C:\\vh-contract\\logs\\", {}},
        {"C:\\vh-contract\\data", {"Data/"}},
    };
    for (const auto& test : aCases)
        EXPECT_EQ(List(test.szPattern), test.astrNames) << test.szPattern;

    // "*.log": Wine also matches b.logx, through its 8.3 name B~1.LOG (as Windows
    // does where 8.3 names are made); the POSIX layer matches long names only.
    std::vector<std::string> astrLogs = {"Alpha.log", "dir.log/", "mid.LOG", "zeta.log"};
    if (kWin32Layer)
        astrLogs.insert(astrLogs.begin() + 1, "b.logx");
    EXPECT_EQ(List("C:\\vh-contract\\logs\\*.log"), astrLogs);
}

TEST(Search, DriveRootHasNoDots)
{
    const std::vector<std::string> astrNames = List("C:\\*.*");
    EXPECT_EQ(std::count(astrNames.begin(), astrNames.end(), "./"), 0);
    EXPECT_EQ(std::count(astrNames.begin(), astrNames.end(), "../"), 0);
    EXPECT_EQ(std::count(astrNames.begin(), astrNames.end(), "vh-contract/"), 1);
}

TEST(Files, ReadByTheirWindowsNames)
{
    EXPECT_EQ(ReadAll("C:\\vh-contract\\data\\report.txt"), "hello");
    EXPECT_EQ(ReadAll("C:\\VH-CONTRACT\\Data\\REPORT.TXT"), "hello");
    EXPECT_EQ(ReadAll("C:\\vh-contract\\data\\missing.txt"), "<none>");
    EXPECT_EQ(ReadAll("C:\\vh-contract\\data"), "<none>");  // a folder is no file
    EXPECT_EQ(plat::CreateForWrite("C:\\vh-contract\\data"), nullptr);
}

TEST(Files, CreateAppendAndCutBack)
{
    const char* szPath = "C:\\vh-contract\\out\\written.txt";
    plat::File* pFile = plat::CreateForWrite(szPath);
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(plat::AppendFile(pFile, "hello", 5), 5);
    plat::CloseFile(pFile);
    pFile = plat::OpenForAppend("C:\\VH-CONTRACT\\OUT\\WRITTEN.TXT");
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(plat::AppendFile(pFile, ",more", 5), 5);
    EXPECT_EQ(plat::FileSize(pFile), 10);
    EXPECT_TRUE(plat::TruncateFile(pFile, 7));
    EXPECT_EQ(plat::AppendFile(pFile, "!", 1), 1);  // appends at the new end
    plat::CloseFile(pFile);
    EXPECT_EQ(ReadAll(szPath), "hello,m!");
    // Created again empty.
    pFile = plat::CreateForWrite(szPath);
    ASSERT_NE(pFile, nullptr);
    plat::CloseFile(pFile);
    EXPECT_EQ(ReadAll(szPath), "");
    // Appending creates a missing file.
    pFile = plat::OpenForAppend("C:\\vh-contract\\out\\new.txt");
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(plat::AppendFile(pFile, "x", 1), 1);
    plat::CloseFile(pFile);
    EXPECT_EQ(ReadAll("C:\\vh-contract\\out\\new.txt"), "x");
}

#if !defined(_WIN32)
// A short write: past the file size limit the POSIX layer writes what fits and
// says how much. (Win32 layer: Wine ends the process on that limit's signal, and a
// short write cannot be had otherwise; the run's handling of it is tested through
// the fake platform.)
TEST(Files, ShortWriteSaysHowMuch)
{
    const char* szPath = "C:\\vh-contract\\out\\short.txt";
    plat::File* pFile = plat::CreateForWrite(szPath);
    ASSERT_NE(pFile, nullptr);
    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limit = previous;
    limit.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const long long nWritten = plat::AppendFile(pFile, "0123456789abcdef", 16);
    const long long nNone = plat::AppendFile(pFile, "x", 1);
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(nWritten, 10);
    EXPECT_EQ(nNone, -1);
    EXPECT_TRUE(plat::TruncateFile(pFile, 0));
    plat::CloseFile(pFile);
    EXPECT_EQ(ReadAll(szPath), "");
}
#endif

TEST(Registry, ValueRules)
{
    const struct {
        const char* szValue;
        uint32_t nCapacity;
        uint32_t dwStatus;
        std::string strData;
    } aCases[] = {
        {"Short", 256, ERROR_SUCCESS, std::string("abc") + '\0'},
        {"Max", 256, ERROR_SUCCESS, std::string(255, 'm') + '\0'},    // 255 and the zero
        {"TooLong", 256, ERROR_MORE_DATA, ""},                           // 256 and the zero
        {"Short", 3, ERROR_MORE_DATA, ""},
        {"Expand", 256, ERROR_SUCCESS, std::string("%ProgramData%\\x") + '\0'},  // not expanded
        {"Binary", 256, ERROR_SUCCESS, "AB"},                            // no zero added
        {"Western", 256, ERROR_SUCCESS, std::string("T\xe4rvel \x80") + '\0'},  // code page 1252
        {"Missing", 256, ERROR_FILE_NOT_FOUND, ""},
    };
    for (const auto& test : aCases) {
        unsigned char abyData[256];
        uint32_t nSize = test.nCapacity;
        EXPECT_EQ(plat::QueryMachineValue(kKey, test.szValue, abyData, &nSize), test.dwStatus)
            << test.szValue;
        if (test.dwStatus == ERROR_SUCCESS) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(abyData), nSize), test.strData)
                << test.szValue;
        }
    }
    unsigned char abyData[256];
    uint32_t nSize = sizeof(abyData);
    EXPECT_EQ(plat::QueryMachineValue("Software\\VhContract\\Missing", "Short", abyData, &nSize),
              static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    nSize = sizeof(abyData);
    EXPECT_EQ(plat::QueryMachineValue("SOFTWARE\\vhcontract", "SHORT", abyData, &nSize),
              static_cast<uint32_t>(ERROR_SUCCESS));
}

TEST(ShortDate, ThePrefixPicture)
{
    // en-US: M/d/yyyy, the date alone.
    const struct {
        int nYear, nMonth, nDay;
        const char* szDate;
    } aCases[] = {
        {2001, 12, 25, "12/25/2001"}, {2001, 1, 5, "1/5/2001"},   {1970, 1, 1, "1/1/1970"},
        {2225, 12, 31, "12/31/2225"}, {2000, 2, 29, "2/29/2000"}, {2001, 13, 1, ""},
        {2001, 0, 1, ""},             {2001, 4, 31, ""},          {2001, 1, 0, ""},
        {2001, 1, 32, ""},
    };
    for (const auto& test : aCases) {
        std::string strDate = "x";
        plat::FormatShortDate(test.nYear, test.nMonth, test.nDay, 23, 59, 59, strDate);
        EXPECT_EQ(strDate, test.szDate) << test.nYear << "-" << test.nMonth << "-" << test.nDay;
    }
    // 29 February of a common year: Wine takes it as 1 March (Windows rejects it).
    std::string strDate;
    plat::FormatShortDate(2001, 2, 29, 0, 0, 0, strDate);
    EXPECT_EQ(strDate, kWin32Layer ? "3/1/2001" : "");
    EXPECT_EQ(FormatLogDate(LOGTIME{31, 11, 25, 23, 59, 59, 0}), "12/25/2001");
}

TEST(System, WhatTheResolverAsks)
{
    uint32_t dwPlatform = 0, dwMajor = 0;
    EXPECT_TRUE(plat::QueryVersion(&dwPlatform, &dwMajor));
    EXPECT_EQ(dwPlatform, static_cast<uint32_t>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(dwMajor, 5u);
    char szPath[260];
    ASSERT_GT(plat::QuerySystemDirectory(szPath, sizeof(szPath)), 0u);
    EXPECT_EQ(std::string(szPath), "C:\\windows\\system32");
    EXPECT_FALSE(plat::LeadBytes().bAny);  // code page 1252

    char szUser[48];
    uint32_t nSize = sizeof(szUser);
    EXPECT_TRUE(plat::QueryUserName(szUser, &nSize));
    EXPECT_GT(std::string(szUser).size(), 0u);

    plat::Library* pLibrary = plat::OpenLibrary("C:\\windows\\system32\\shfolder.dll");
    ASSERT_NE(pLibrary, nullptr);
    EXPECT_EQ(plat::FindFolderPathProc(pLibrary, "NoSuchFunction"), nullptr);
    plat::FolderProc* pProc = plat::FindFolderPathProc(pLibrary, "SHGetFolderPathA");
    ASSERT_NE(pProc, nullptr);
    EXPECT_EQ(plat::CallFolderPathProc(pProc, CSIDL_COMMON_APPDATA, szPath), 0);
    EXPECT_EQ(std::string(szPath), "C:\\ProgramData");
    EXPECT_EQ(plat::CallFolderPathProc(pProc, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, szPath), 0);
    EXPECT_EQ(std::string(szPath), "C:\\users\\" + std::string(szUser) + "\\AppData\\Local");
    plat::CloseLibrary(pLibrary);
    EXPECT_EQ(plat::OpenLibrary("C:\\windows\\system32\\nosuch.dll"), nullptr);
    EXPECT_EQ(plat::LastError(), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
