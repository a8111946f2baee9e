// A scripted platform for the unit tests: every answer the portable code asks the
// system for is set here, and every call is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct FakeFile {
    std::string strContent;
    bool bOpenFails = false;
    long long nReadFailsAt = -1;  // a read reaching this offset fails
};

struct FakePlatform {
    bool bSystemOpens = true;

    // The split run: the part SplitRun gives this process, and how many files
    // and registry values had been opened when it was asked. The reader's frames
    // collect in strFrames, where the writer receives them (nReadChunk at a
    // time), from nFramesReceived on. WaitForReader records whether it ended the
    // reader, and answers strReaderDied. Lines on standard error are kept.
    plat::RunPart runPart = plat::kRunWhole;
    std::size_t nOpensBeforeSplit = 0;
    std::string strFrames;
    std::size_t nFramesReceived = 0;
    bool bReaderEnded = false;
    std::string strReaderDied;
    bool bReadingRefused = false;
    std::vector<std::string> errorLines;

    // A person at a terminal: whether standard error (and standard output) is
    // one; a clock that moves nClockStep milliseconds each time it is read, and
    // the reads; the progress lines shown, in order ("" for a clearing), and
    // whether one is shown now (a line on standard error clears it).
    bool bTerminal = false;
    bool bOutputTerminal = false;
    long long nClock = 0;
    long long nClockStep = 0;
    int nClockReads = 0;
    std::vector<std::string> progressLines;
    bool bProgressShown = false;

    // User, version, system directory.
    bool bUserNameOk = true;
    std::string strUserName = "ops";
    bool bVersionOk = true;
    uint32_t dwPlatformId = VER_PLATFORM_WIN32_NT;
    uint32_t dwMajorVersion = 6;
    bool bSystemDirectoryFails = false;
    std::string strSystemDirectory = "C:\\WINDOWS\\system32";
    uint32_t dwLastError = 0;  // what LastError reports after a failure
    std::set<unsigned char> leadBytes;

    // Registry: the product key's "Home Directory", as stored bytes: in the one
    // registry of a 32-bit system or the 64-bit view of a 64-bit one, and in the
    // 32-bit view of a 64-bit one. The system is 64-bit when the process is, or
    // IsWow64Process says so. The view flag of each query is recorded.
    uint32_t dwKeyOpenStatus = 0;
    std::optional<std::string> homeValue = std::string("C:\\Program Files\\Tarvel", 24);
    std::optional<std::string> homeValue32;
    bool bProcess64Bit = false;
    plat::Wow64Answer wow64 = plat::kWow64No;
    int nRegistryQueries = 0;
    std::vector<uint32_t> registryViews;

    // Shell library and folders.
    bool bLibraryLoads = true;
    bool bHasFolderProc = true;
    int32_t hrFolder = 0;
    std::map<int32_t, std::string> folders = {{CSIDL_COMMON_APPDATA, "C:\\ProgramData"}};
    std::vector<std::string> loadedLibraries;
    std::vector<int32_t> askedFolders;
    int nLibrariesOpen = 0;

    // File search: the entries each exact search string delivers, in order.
    std::map<std::string, std::vector<plat::FindData>> searches;
    std::vector<std::string> searched;
    int nSearchesOpen = 0;

    // The time zone: its name (none when empty), a fixed bias (UTC = local + bias,
    // in minutes), and whether conversions fail. Text in UTF-8 reads the code page
    // as Latin-1.
    std::string strTimeZone = "Test Standard Time";
    int32_t nBias = 0;
    bool bConversionFails = false;
    std::string strSystemName = "fake system";
    std::string strSystemVolume;

    // A disk image, and the deleted files each exact search string finds there:
    // (name, content).
    bool bImage = true;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> deleted;

    // The shadow copies found, newest first, and the lines said of those skipped.
    // A copy's files and searches are keyed ShadowKey(its number, the path); the
    // file functions read the view nShadowView (0 the live one).
    std::vector<plat::ShadowCopy> shadowCopies;
    std::vector<std::string> shadowSkipped;
    unsigned nShadowView = 0;

    // Message boxes: (text, caption).
    std::vector<std::pair<std::string, std::string>> messages;

    // Files by path; output files are created in the same map.
    std::map<std::string, FakeFile> files;
    std::set<std::string> unwritable;  // names that cannot be opened for writing
    std::set<std::string> held;        // names another run holds
    std::size_t nReadChunk = 1 << 16;
    std::set<int> failedAppendOpens;   // appends (counted from 0) whose open fails
    std::set<int> shortAppends;        // appends that write only half their data
    int nTruncateFailures = 0;         // how many of the next cut-backs of a row fail
    std::map<std::string, std::size_t> sizeLimits;  // files that cannot grow past a size
    std::set<std::string> uncuttable;  // files whose cut-backs (but to 0) fail
    int nAppends = 0;
    int nFilesOpen = 0;
    std::vector<std::string> opened;   // every path opened, in order

    void AddEntry(const std::string& strSearch, const std::string& strName, bool bFolder = false);
    void AddFolder(const std::string& strPath);  // makes PathExists true for it
    const std::string& History() { return files["VirusHist.csv"].strContent; }
};

std::string ShadowKey(unsigned nNumber, const std::string& strPath);

// The path under which the fake keeps what is written to standard output.
constexpr const char* kFakeStandardOutput = "<standard output>";

// The platform the linked code sees; tests reset it to a fresh FakePlatform.
extern FakePlatform g_fake;

// The fake's short date: "yyyy-mm-dd", empty for a month or day out of range.
std::string FakeDate(int nYear, int nMonth, int nDay);
