// The platform on Windows: the Win32 API in its ANSI variants.
#include "platform/win32/windows_headers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "version.h"

namespace plat {

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathAProc)(HWND, int, HANDLE, DWORD, LPSTR);
// The time zone functions, loaded at run time: Windows XP has neither of the first
// two, Windows 2000 not the third.
typedef DWORD(WINAPI* GetDynamicTimeZoneInformationProc)(DYNAMIC_TIME_ZONE_INFORMATION*);
typedef BOOL(WINAPI* GetTimeZoneInformationForYearProc)(USHORT, DYNAMIC_TIME_ZONE_INFORMATION*,
                                                          TIME_ZONE_INFORMATION*);
typedef BOOL(WINAPI* TzSpecificLocalTimeToSystemTimeProc)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*,
                                                            SYSTEMTIME*);

// UTF-16 text in UTF-8.
std::string Utf8Of(const wchar_t* szText, int nLength)
{
    if (nLength <= 0)
        return std::string();
    const int nSize = WideCharToMultiByte(CP_UTF8, 0, szText, nLength, nullptr, 0, nullptr, nullptr);
    std::string strText(static_cast<std::size_t>(nSize > 0 ? nSize : 0), '\0');
    if (nSize > 0)
        WideCharToMultiByte(CP_UTF8, 0, szText, nLength, &strText[0], nSize, nullptr, nullptr);
    return strText;
}

template <typename Proc>
Proc KernelProc(const char* szName)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), szName)));
}

// The system's time zone, read once: its dynamic information (Windows Vista on),
// else the fixed one; and the rule of the year last converted.
struct SYSTEMZONE {
    bool bKnown = false;
    bool bDynamic = false;
    DYNAMIC_TIME_ZONE_INFORMATION dynamic{};
    TIME_ZONE_INFORMATION fixed{};
    std::string strName;
    GetTimeZoneInformationForYearProc pForYear = nullptr;
    TzSpecificLocalTimeToSystemTimeProc pToSystemTime = nullptr;
    int nYear = -1;
    bool bYearRule = false;
    TIME_ZONE_INFORMATION yearRule{};
};

SYSTEMZONE& SystemZone()
{
    static SYSTEMZONE zone = [] {
        SYSTEMZONE found;
        found.pForYear = KernelProc<GetTimeZoneInformationForYearProc>("GetTimeZoneInformationForYear");
        found.pToSystemTime = KernelProc<TzSpecificLocalTimeToSystemTimeProc>("TzSpecificLocalTimeToSystemTime");
        auto pGetDynamic = KernelProc<GetDynamicTimeZoneInformationProc>("GetDynamicTimeZoneInformation");
        if (pGetDynamic != nullptr && pGetDynamic(&found.dynamic) != TIME_ZONE_ID_INVALID) {
            found.bKnown = found.bDynamic = true;
            found.strName = Utf8Of(found.dynamic.TimeZoneKeyName,
                                   static_cast<int>(wcsnlen(found.dynamic.TimeZoneKeyName, 128)));
            found.fixed.Bias = found.dynamic.Bias;
            found.fixed.StandardBias = found.dynamic.StandardBias;
            found.fixed.DaylightBias = found.dynamic.DaylightBias;
            found.fixed.StandardDate = found.dynamic.StandardDate;
            found.fixed.DaylightDate = found.dynamic.DaylightDate;
        } else if (GetTimeZoneInformation(&found.fixed) != TIME_ZONE_ID_INVALID) {
            // Windows XP names its zone by the standard name alone.
            found.bKnown = true;
            found.strName = Utf8Of(found.fixed.StandardName, static_cast<int>(wcsnlen(found.fixed.StandardName, 32)));
        }
        return found;
    }();
    return zone;
}

HANDLE AsHandle(File* pFile)
{
    return reinterpret_cast<HANDLE>(pFile);
}

File* AsFile(HANDLE hFile)
{
    return hFile == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<File*>(hFile);
}

void CopyFindData(const WIN32_FIND_DATAA& found, FindData* pData)
{
    pData->dwFileAttributes = found.dwFileAttributes;
    std::memcpy(pData->cFileName, found.cFileName, kMaxPath);
    pData->cFileName[kMaxPath - 1] = '\0';
}

// Opens a file shared for reading and writing (the stream library's default), so
// the product and other programs can go on using it.
File* OpenShared(const char* szPath, DWORD dwAccess, DWORD dwDisposition)
{
    return AsFile(CreateFileA(szPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The files OpenHeld holds, each with the mutex that holds it.
std::vector<std::pair<HANDLE, HANDLE>>& HeldFiles()
{
    static std::vector<std::pair<HANDLE, HANDLE>> aHeld;
    return aHeld;
}

}  // namespace

bool OpenSystem()
{
    return true;
}

// Windows runs the export in one process: nothing is split or confined.
RunPart SplitRun(const char*, bool)
{
    return kRunWhole;
}

void SendFrame(FrameType, std::string_view) {}

void FlushFrames() {}

bool ReadingRefused()
{
    return false;
}

long ReceiveFrames(char*, std::size_t)
{
    return -1;
}

std::string WaitForReader(bool)
{
    return std::string();
}

// No reader reads an image here: no request for a file is a sound one.
bool HandOverFile(std::string_view)
{
    return false;
}

void WriteErrorLine(const std::string& strLine)
{
    ShowProgress(std::string());
    std::fprintf(stderr, "%s\n", strLine.c_str());
}

namespace {

std::size_t g_nProgressShown = 0;  // the columns of the progress line on the console

}  // namespace

// A console, as GetConsoleMode answers for it (Windows 2000 and XP have it); a
// pipe or a file is none.
bool IsTerminal(bool bOutput)
{
    DWORD dwMode = 0;
    const HANDLE hStream = GetStdHandle(bOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    return hStream != INVALID_HANDLE_VALUE && hStream != nullptr && GetConsoleMode(hStream, &dwMode) != FALSE;
}

// GetTickCount (GetTickCount64 is Vista's): it wraps after 49.7 days, which at
// worst delays one progress line.
long long Milliseconds()
{
    return static_cast<long long>(GetTickCount());
}

void ShowProgress(const std::string& strLine)
{
    if (strLine.empty() && g_nProgressShown == 0)
        return;
    // One column less than the console window's width, so that the line never
    // wraps; blanked with spaces (a console before Windows 10 reads no escape
    // sequences).
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::size_t nWidth = 79;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) != FALSE &&
        info.srWindow.Right - info.srWindow.Left > 0)
        nWidth = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left);
    const std::string strOut = RedrawnLine(strLine, nWidth, g_nProgressShown);
    std::fwrite(strOut.data(), 1, strOut.size(), stderr);
    std::fflush(stderr);
}

bool QueryUserName(char* szName, uint32_t* pnSize)
{
    DWORD nSize = *pnSize;
    BOOL bDone = GetUserNameA(szName, &nSize);
    *pnSize = nSize;
    return bDone != FALSE;
}

bool QueryVersion(uint32_t* pdwPlatformId, uint32_t* pdwMajorVersion)
{
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);  // 148
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // GetVersionExA is what the version test asks
#endif
    if (!GetVersionExA(&info))
        return false;
    *pdwPlatformId = info.dwPlatformId;
    *pdwMajorVersion = info.dwMajorVersion;
    return true;
}

uint32_t QuerySystemDirectory(char* szPath, uint32_t nSize)
{
    return GetSystemDirectoryA(szPath, nSize);
}

uint32_t LastError()
{
    return GetLastError();
}

const LeadByteTable& LeadBytes()
{
    static const LeadByteTable table = [] {
        LeadByteTable leadBytes{};
        for (unsigned nByte = 0; nByte < 256; ++nByte) {
            leadBytes.abLead[nByte] = IsDBCSLeadByte(static_cast<BYTE>(nByte)) != FALSE;
            leadBytes.bAny = leadBytes.bAny || leadBytes.abLead[nByte];
        }
        return leadBytes;
    }();
    return table;
}

uint32_t QueryMachineValue(const char* szSubKey, const char* szValue, unsigned char* pData,
                           uint32_t* pnSize, uint32_t dwView)
{
    HKEY hKey;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_READ | dwView, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return static_cast<uint32_t>(nStatus);
    DWORD nSize = *pnSize;
    nStatus = RegQueryValueExA(hKey, szValue, nullptr, nullptr, pData, &nSize);
    *pnSize = nSize;
    RegCloseKey(hKey);
    return static_cast<uint32_t>(nStatus);
}

bool IsProcess64Bit()
{
    return sizeof(void*) == 8;
}

Wow64Answer QueryWow64Process()
{
    typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, PBOOL);
    const IsWow64ProcessProc pIsWow64 = KernelProc<IsWow64ProcessProc>("IsWow64Process");
    if (pIsWow64 == nullptr)
        return kWow64Missing;
    BOOL bWow64 = FALSE;
    return pIsWow64(GetCurrentProcess(), &bWow64) && bWow64 ? kWow64Yes : kWow64No;
}

Library* OpenLibrary(const char* szPath)
{
    return reinterpret_cast<Library*>(LoadLibraryA(szPath));
}

FolderProc* FindFolderPathProc(Library* pLibrary, const char* szName)
{
    return reinterpret_cast<FolderProc*>(
        GetProcAddress(reinterpret_cast<HMODULE>(pLibrary), szName));
}

void CloseLibrary(Library* pLibrary)
{
    FreeLibrary(reinterpret_cast<HMODULE>(pLibrary));
}

int32_t CallFolderPathProc(FolderProc* pProc, int32_t nFolder, char* szPath)
{
    auto pfnGetFolderPath = reinterpret_cast<SHGetFolderPathAProc>(pProc);
    return pfnGetFolderPath(nullptr, nFolder, nullptr, 0, szPath);
}

Search* FindFirst(const char* szPattern, FindData* pData)
{
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof(found));
    HANDLE hSearch = FindFirstFileA(szPattern, &found);
    if (hSearch == INVALID_HANDLE_VALUE || hSearch == nullptr)
        return nullptr;
    CopyFindData(found, pData);
    return reinterpret_cast<Search*>(hSearch);
}

bool FindNext(Search* pSearch, FindData* pData)
{
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(reinterpret_cast<HANDLE>(pSearch), &found))
        return false;
    CopyFindData(found, pData);
    return true;
}

void CloseSearch(Search* pSearch)
{
    ::FindClose(reinterpret_cast<HANDLE>(pSearch));
}

bool LoadStringResource(uint32_t nID, std::string& strText)
{
    // A string-table text is at most 4,095 characters.
    char szText[4096];
    const int nLength = LoadStringA(GetModuleHandleA(nullptr), nID, szText, sizeof(szText));
    if (nLength <= 0)
        return false;
    strText.assign(szText, static_cast<std::size_t>(nLength));
    return true;
}

namespace {

constexpr const char* kHelp =
    "Usage: virushist [PATTERN]\n"
    "       virushist /? | -? | --help | --version\n"
    "\n"
    "Exports the virus history of the antivirus product installed on this computer\n"
    "to VirusHist.csv in the current folder: one row per virus event of its activity\n"
    "logs. PATTERN is a file name pattern for the logs in the product's logs folder\n"
    "(default *.log; with two or more arguments, *.log). /?, -?, --help and --version\n"
    "are options only when they stand alone; any other argument is the pattern.\n"
    "\n"
    "The product's key is read in the registry's 32-bit view first, then in the\n"
    "64-bit view. Take virushist-<version>-win32.zip for a 32-bit Windows (XP SP2\n"
    "and later); either zip works on 64-bit Windows.\n"
    "Output:\n"
    "  VIRUSHIST_TIMELINE  also write a timeline to this file: JSON Lines, one record\n"
    "                      per log line, in UTC by this computer's time zone, for\n"
    "                      Timesketch; - is standard output\n"
    "A variable set to the empty string counts as unset. Lines on standard error\n"
    "begin with \"virushist: \" and the computer's name.\n"
    "\n"
    "Exit status:\n"
    "  0  every row was written (there may be none)\n"
    "  1  the product is not installed; VirusHist.csv untouched\n"
    "  2  VirusHist.csv or the timeline could not be created, or another run is\n"
    "     writing it; one line says which and why; neither touched, no log read\n"
    "  3  the data folder could not be had; VirusHist.csv untouched\n"
    "  4  the run completed, but a row or record was lost (the timeline ends at its\n"
    "     last whole record), or a log could not be read whole\n"
    "  5  the pattern does not fit in a path; VirusHist.csv untouched\n"
    "  6  a row or timeline record was written in part and could not be cut back\n"
    "  7  VIRUSHIST_RECOVER is set: it reads a disk image, and this build reads the\n"
    "     running system only; one line on standard error says so\n"
    "\n"
    "Examples:\n"
    "  virushist\n"
    "  set VIRUSHIST_TIMELINE=pc1.jsonl & virushist\n";

}  // namespace

bool AnswerOption(int argc, char** argv)
{
    // The product names its logs *.log: none of these is a pattern a user means,
    // and taken as one it would empty the history file instead of answering.
    if (argc != 2)
        return false;
    const std::string strOption = argv[1];
    if (strOption == "/?" || strOption == "-?" || strOption == "--help")
        std::fputs(kHelp, stdout);
    else if (strOption == "--version")
        std::fprintf(stdout, "virushist %s (%d-bit Windows executable)\n", VH_VERSION_STRING,
                    static_cast<int>(sizeof(void*) * 8));
    else
        return false;
    std::fflush(stdout);
    return true;
}

std::string ArgumentText(const char* szArgument)
{
    return szArgument;
}

void ShowMessage(const char* szText, const char* szCaption)
{
    // The box, and the same words on standard error, a line each, as every line
    // of the run is said there.
    const std::string strPrefix = "virushist: " + SystemName() + ": ";
    std::string strLines = strPrefix + szCaption + "\n" + strPrefix;
    for (const char* p = szText; *p != '\0'; ++p)
        strLines += *p == '\n' ? "\n" + strPrefix : std::string(1, *p);
    ShowProgress(std::string());
    std::fprintf(stderr, "%s\n", strLines.c_str());
    std::fflush(stderr);
    MessageBoxA(nullptr, szText, szCaption, MB_OK);
}

void FormatShortDate(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                     std::string& strText)
{
    SYSTEMTIME time;
    std::memset(&time, 0, sizeof(time));
    time.wYear = static_cast<WORD>(nYear);
    time.wMonth = static_cast<WORD>(nMonth);
    time.wDay = static_cast<WORD>(nDay);
    time.wHour = static_cast<WORD>(nHour);
    time.wMinute = static_cast<WORD>(nMinute);
    time.wSecond = static_cast<WORD>(nSecond);
    char szDate[256] = "";
    int nLength = GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, szDate,
                                 sizeof(szDate));
    strText.assign(nLength > 0 ? szDate : "");
}

bool CanRecoverHistory(std::string& strWhy)
{
    strWhy = "VIRUSHIST_RECOVER reads a disk image; the Windows build reads the running system only";
    return false;
}

void FindDeleted(const char*, std::vector<DeletedFile>& aFiles)
{
    aFiles.clear();
}

File* OpenDeleted(const DeletedFile&)
{
    return nullptr;
}

void FindShadowCopies(std::vector<ShadowCopy>& aCopies, std::vector<std::string>& astrSkipped)
{
    aCopies.clear();
    astrSkipped.clear();
}

void ReadShadowCopy(unsigned) {}

File* OpenForRead(const char* szPath)
{
    // Shared for deleting too: the product may rotate its logs while we read.
    return AsFile(CreateFileA(szPath, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize)
{
    DWORD nRead = 0;
    if (!::ReadFile(AsHandle(pFile), pBuffer, static_cast<DWORD>(nSize), &nRead, nullptr))
        return -1;
    return static_cast<long>(nRead);
}

File* CreateForWrite(const char* szPath)
{
    return OpenShared(szPath, GENERIC_WRITE, CREATE_ALWAYS);
}

File* OpenHeld(const char* szPath, bool, bool* pbHeld, bool* pbCreated)
{
    *pbCreated = false;
    // The hold is a named mutex, one for each file by its full path in capitals:
    // a byte-range lock would do on Windows, but Wine keeps every descriptor the
    // run's per-row opens close while a lock exists, until it runs out of them.
    *pbHeld = false;
    char szFull[2 * MAX_PATH];
    const DWORD nFull = GetFullPathNameA(szPath, sizeof(szFull), szFull, nullptr);
    if (nFull == 0 || nFull >= sizeof(szFull))
        return nullptr;
    CharUpperBuffA(szFull, nFull);
    uint64_t nHash = 14695981039346656037ULL;  // FNV-1a of the path
    for (DWORD i = 0; i < nFull; ++i)
        nHash = (nHash ^ static_cast<unsigned char>(szFull[i])) * 1099511628211ULL;
    char szName[64];
    std::snprintf(szName, sizeof(szName), "Local\\virushist-%016llx", static_cast<unsigned long long>(nHash));
    HANDLE hMutex = CreateMutexA(nullptr, TRUE, szName);
    if (hMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        *pbHeld = hMutex != nullptr;
        if (hMutex != nullptr)
            CloseHandle(hMutex);
        SetLastError(ERROR_LOCK_VIOLATION);
        return nullptr;
    }
    File* pFile = OpenShared(szPath, GENERIC_WRITE, OPEN_ALWAYS);
    const DWORD dwError = GetLastError();
    if (pFile == nullptr) {
        CloseHandle(hMutex);
        SetLastError(dwError);
        return nullptr;
    }
    *pbCreated = dwError != ERROR_ALREADY_EXISTS;
    HeldFiles().emplace_back(AsHandle(pFile), hMutex);
    return pFile;
}

File* OpenForAppend(const char* szPath)
{
    return OpenShared(szPath, GENERIC_WRITE, OPEN_ALWAYS);
}

bool RemoveFile(const char* szPath, bool)
{
    return DeleteFileA(szPath) != FALSE;
}

File* OpenStandardOutput()
{
    // Binary, so that LF stays LF; a handle of its own, so that closing it leaves
    // the process's standard output as it was.
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    HANDLE hOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE hOwn = nullptr;
    if (hOutput == nullptr || hOutput == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), hOutput, GetCurrentProcess(), &hOwn, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return AsFile(hOwn);
}

bool IsDiskFile(File* pFile)
{
    return GetFileType(AsHandle(pFile)) == FILE_TYPE_DISK;
}

std::string LastErrorText()
{
    const DWORD dwError = GetLastError();
    char szText[512];
    DWORD nLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
                                   szText, sizeof(szText), nullptr);
    while (nLength > 0 && (szText[nLength - 1] == '\r' || szText[nLength - 1] == '\n' || szText[nLength - 1] == ' '))
        --nLength;
    if (nLength == 0)
        return "error " + std::to_string(dwError);
    return TextToUtf8(std::string_view(szText, nLength));
}

long long FileSize(File* pFile)
{
    LARGE_INTEGER nSize;
    return GetFileSizeEx(AsHandle(pFile), &nSize) ? nSize.QuadPart : -1;
}

long long AppendFile(File* pFile, const char* pData, std::size_t nSize)
{
    // A pipe or a console has no end to move to; its type is asked only then, so
    // that a row's append costs no more calls than it did.
    LARGE_INTEGER nZero;
    nZero.QuadPart = 0;
    if (!SetFilePointerEx(AsHandle(pFile), nZero, nullptr, FILE_END) && GetFileType(AsHandle(pFile)) == FILE_TYPE_DISK)
        return -1;
    std::size_t nDone = 0;
    while (nDone < nSize) {
        DWORD nWritten = 0;
        BOOL bWritten = WriteFile(AsHandle(pFile), pData + nDone,
                                  static_cast<DWORD>(nSize - nDone), &nWritten, nullptr);
        if (!bWritten || nWritten == 0)
            return nDone > 0 ? static_cast<long long>(nDone) : -1;
        nDone += nWritten;
    }
    return static_cast<long long>(nDone);
}

bool TruncateFile(File* pFile, long long nSize)
{
    LARGE_INTEGER nPosition;
    nPosition.QuadPart = nSize;
    return SetFilePointerEx(AsHandle(pFile), nPosition, nullptr, FILE_BEGIN) &&
           SetEndOfFile(AsHandle(pFile));
}

void CloseFile(File* pFile)
{
    CloseHandle(AsHandle(pFile));
    // The hold of a held file ends with it.
    auto& aHeld = HeldFiles();
    for (auto it = aHeld.begin(); it != aHeld.end(); ++it) {
        if (it->first == AsHandle(pFile)) {
            ReleaseMutex(it->second);
            CloseHandle(it->second);
            aHeld.erase(it);
            break;
        }
    }
}

std::string TimeZoneName()
{
    return SystemZone().strName;
}

bool LocalTimeToUtc(const DATETIME& local, DATETIME& utc)
{
    SYSTEMZONE& zone = SystemZone();
    if (!zone.bKnown) {
        utc = local;
        return true;
    }
    // The year's own rule, as TzSpecificLocalTimeToSystemTimeEx takes it from the
    // zone's dynamic information; that function itself is not called: Wine 8 does
    // not implement it, and it would read the registry again for every line.
    const TIME_ZONE_INFORMATION* pRule = &zone.fixed;
    if (zone.bDynamic && !zone.dynamic.DynamicDaylightTimeDisabled && zone.pForYear != nullptr) {
        if (zone.nYear != local.nYear) {
            zone.nYear = local.nYear;
            zone.bYearRule = zone.pForYear(static_cast<USHORT>(local.nYear), &zone.dynamic, &zone.yearRule) != FALSE;
        }
        if (zone.bYearRule)
            pRule = &zone.yearRule;
    }
    SYSTEMTIME localTime{};
    localTime.wYear = static_cast<WORD>(local.nYear);
    localTime.wMonth = static_cast<WORD>(local.nMonth);
    localTime.wDay = static_cast<WORD>(local.nDay);
    localTime.wHour = static_cast<WORD>(local.nHour);
    localTime.wMinute = static_cast<WORD>(local.nMinute);
    localTime.wSecond = static_cast<WORD>(local.nSecond);
    SYSTEMTIME utcTime;
    if (zone.pToSystemTime == nullptr || !zone.pToSystemTime(pRule, &localTime, &utcTime))
        return false;
    utc = {utcTime.wYear, utcTime.wMonth, utcTime.wDay, utcTime.wHour, utcTime.wMinute, utcTime.wSecond};
    return true;
}

std::string TextToUtf8(std::string_view strText)
{
    if (strText.empty() || strText.size() > 0x7fffffff)
        return std::string();
    const int nLength = static_cast<int>(strText.size());
    const int nWide = MultiByteToWideChar(CP_ACP, 0, strText.data(), nLength, nullptr, 0);
    if (nWide <= 0)
        return std::string();
    std::wstring strWide(static_cast<std::size_t>(nWide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, strText.data(), nLength, &strWide[0], nWide);
    return Utf8Of(strWide.data(), nWide);
}

std::string SystemName()
{
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD nSize = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(szName, &nSize) ? Utf8Of(szName, static_cast<int>(nSize)) : std::string();
}

std::string SystemVolume()
{
    return std::string();
}

}  // namespace plat
