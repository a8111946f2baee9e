// The platform on POSIX: a Wine prefix ($WINEPREFIX, else ~/.wine) is the local
// Windows machine. HKEY_LOCAL_MACHINE is the prefix's system.reg; X:\a\b is
// <prefix>/dosdevices/x:/a/b; names compare case-insensitively; the shell folders,
// user, version and system directory are those Wine reports; the message box goes to
// standard error; the short date is that of the C library's default locale.
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/wine_prefix.h"

namespace plat {

struct Library {};
struct FolderProc {};
struct Search {
    std::vector<FindData> aEntries;
    std::size_t nNext = 0;
};

namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057);
constexpr uint32_t kAttributeArchive = 0x20;
constexpr const char* kSystemDirectory = "C:\\windows\\system32";

uint32_t g_dwLastError = 0;
Library g_shellLibrary;
FolderProc g_folderPathProc;

char Lower(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

bool EqualNoCase(std::string_view strLeft, std::string_view strRight)
{
    return strLeft.size() == strRight.size() &&
           std::equal(strLeft.begin(), strLeft.end(), strRight.begin(),
                      [](char a, char b) { return Lower(a) == Lower(b); });
}

std::string Prefix()
{
    if (const char* szPrefix = std::getenv("WINEPREFIX"); szPrefix && *szPrefix)
        return szPrefix;
    const char* szHome = std::getenv("HOME");
    return std::string(szHome ? szHome : "") + "/.wine";
}

bool IsSeparator(char ch)
{
    return ch == '\\' || ch == '/';
}

// The host folder a Windows path starts from, and the rest of the path: a drive
// letter maps to the prefix's dosdevices, a path from the root to drive C:; a
// relative path has no root (it starts from the current directory).
std::string_view SplitRoot(std::string_view strPath, std::string& strRoot)
{
    if (strPath.size() >= 2 && strPath[1] == ':' && std::isalpha(static_cast<unsigned char>(strPath[0]))) {
        strRoot = Prefix() + "/dosdevices/" + Lower(strPath[0]) + ":";
        return strPath.substr(2);
    }
    if (!strPath.empty() && IsSeparator(strPath[0])) {
        strRoot = Prefix() + "/dosdevices/c:";
        return strPath;
    }
    strRoot.clear();
    return strPath;
}

// The name in folder strDir that equals strName but for letter case, or strName
// itself when there is none.
std::string FindNameNoCase(const std::string& strDir, std::string_view strName)
{
    std::string strFound(strName);
    if (DIR* pDir = opendir(strDir.c_str())) {
        while (dirent* pEntry = readdir(pDir)) {
            if (EqualNoCase(pEntry->d_name, strName)) {
                strFound = pEntry->d_name;
                break;
            }
        }
        closedir(pDir);
    }
    return strFound;
}

// The host path of a Windows path, each component matched case-insensitively.
// Components that do not exist are kept as written, so a file can be created.
std::string HostPath(std::string_view strPath)
{
    std::string strHost;
    std::string_view strRest = SplitRoot(strPath, strHost);
    if (strHost.empty())
        strHost = ".";
    std::size_t nRootLength = strHost.size();
    while (!strRest.empty()) {
        std::size_t nEnd = 0;
        while (nEnd < strRest.size() && !IsSeparator(strRest[nEnd]))
            ++nEnd;
        std::string_view strPart = strRest.substr(0, nEnd);
        strRest.remove_prefix(nEnd < strRest.size() ? nEnd + 1 : nEnd);
        if (strPart.empty() || strPart == ".")
            continue;
        if (strPart == "..") {
            std::size_t nSlash = strHost.rfind('/');
            if (nSlash != std::string::npos && nSlash >= nRootLength)
                strHost.resize(nSlash);
            continue;
        }
        std::string strExact = strHost + '/' + std::string(strPart);
        struct stat info;
        if (lstat(strExact.c_str(), &info) == 0)
            strHost = std::move(strExact);
        else
            strHost += '/' + FindNameNoCase(strHost, strPart);
    }
    return strHost;
}

// The host path taken as written: drive mapped, "\" turned into "/", no lookups.
std::string DirectPath(std::string_view strPath)
{
    std::string strHost;
    std::string_view strRest = SplitRoot(strPath, strHost);
    if (!strHost.empty())
        strHost += '/';
    else if (strRest.empty())
        strHost = "./";
    const std::size_t nRestStart = strHost.size();
    strHost += strRest;
    std::replace(strHost.begin() + static_cast<std::ptrdiff_t>(nRestStart), strHost.end(), '\\', '/');
    return strHost;
}

uint32_t ErrorOf(int nErrno)
{
    switch (nErrno) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return 0x1F;  // ERROR_GEN_FAILURE
    }
}

// A File is the descriptor itself, as on Windows it is the handle: nothing to
// allocate. Its value is the descriptor plus one, so that no file is null.
File* AsFile(int nFd)
{
    return reinterpret_cast<File*>(static_cast<std::uintptr_t>(nFd) + 1);
}

int AsDescriptor(File* pFile)
{
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(pFile) - 1);
}

// Opens a file the way Windows would name it: first as written, then with its
// components matched case-insensitively.
File* OpenFile(const char* szPath, int nFlags)
{
    static const bool bNoSizeSignal = [] {
        // A write beyond the file size limit must fail, not end the process.
        signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)bNoSizeSignal;
    // A bare file name, such as the history file's, is its own host path.
    const bool bBareName = *szPath != '\0' && std::strpbrk(szPath, "\\/:") == nullptr;
    int nFd = open(bBareName ? szPath : DirectPath(szPath).c_str(), (nFlags & ~O_CREAT) | O_CLOEXEC,
                   0666);
    if (nFd < 0 && errno == ENOENT)
        nFd = open(HostPath(szPath).c_str(), nFlags | O_CLOEXEC, 0666);
    if (nFd < 0) {
        g_dwLastError = ErrorOf(errno);
        return nullptr;
    }
    // A folder opens for reading (not for writing: EISDIR), but is not a file.
    struct stat info;
    if ((nFlags & O_ACCMODE) == O_RDONLY && (fstat(nFd, &info) != 0 || S_ISDIR(info.st_mode))) {
        close(nFd);
        g_dwLastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return AsFile(nFd);
}

// Days in a month of the Gregorian calendar.
int DaysInMonth(int nYear, int nMonth)
{
    static const int anDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    return nMonth == 2 && bLeap ? 29 : anDays[nMonth - 1];
}

}  // namespace

bool QueryUserName(char* szName, uint32_t* pnSize)
{
    const passwd* pUser = getpwuid(geteuid());
    const char* szLogin = pUser ? pUser->pw_name : std::getenv("USER");
    if (szLogin == nullptr) {
        g_dwLastError = ERROR_FILE_NOT_FOUND;
        return false;
    }
    std::size_t nLength = std::strlen(szLogin);
    if (nLength + 1 > *pnSize) {
        *pnSize = static_cast<uint32_t>(nLength + 1);
        g_dwLastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    std::memcpy(szName, szLogin, nLength + 1);
    *pnSize = static_cast<uint32_t>(nLength + 1);
    return true;
}

bool QueryVersion(uint32_t* pdwPlatformId, uint32_t* pdwMajorVersion)
{
    *pdwPlatformId = kPlatformNT;
    *pdwMajorVersion = 6;
    return true;
}

uint32_t QuerySystemDirectory(char* szPath, uint32_t nSize)
{
    uint32_t nLength = static_cast<uint32_t>(std::strlen(kSystemDirectory));
    if (nLength + 1 > nSize)
        return nLength + 1;
    std::memcpy(szPath, kSystemDirectory, nLength + 1);
    return nLength;
}

uint32_t LastError()
{
    return g_dwLastError;
}

bool IsLeadByte(unsigned char)
{
    return false;  // the prefix's names are taken as single-byte text
}

uint32_t QueryMachineValue(const char* szSubKey, const char* szValue, unsigned char* pData,
                           uint32_t* pnSize)
{
    std::ifstream file(Prefix() + "/system.reg", std::ios::binary);
    if (!file)
        return ERROR_FILE_NOT_FOUND;
    std::ostringstream text;
    text << file.rdbuf();
    std::string strData;
    uint32_t dwType = 0;
    if (!posix::FindRegistryValue(text.str(), szSubKey, szValue, strData, dwType))
        return ERROR_FILE_NOT_FOUND;
    if (strData.size() > *pnSize) {
        *pnSize = static_cast<uint32_t>(strData.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(pData, strData.data(), strData.size());
    *pnSize = static_cast<uint32_t>(strData.size());
    return 0;
}

Library* OpenLibrary(const char* szPath)
{
    // The shell library is part of the layer itself; no other library exists.
    std::string_view strPath(szPath);
    std::size_t nSlash = strPath.find_last_of("\\/");
    std::string_view strName = nSlash == std::string_view::npos ? strPath : strPath.substr(nSlash + 1);
    if (!EqualNoCase(strName, "shfolder.dll")) {
        g_dwLastError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    return &g_shellLibrary;
}

FolderProc* FindFolderPathProc(Library*, const char* szName)
{
    if (std::strcmp(szName, "SHGetFolderPathA") != 0) {
        g_dwLastError = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    return &g_folderPathProc;
}

void CloseLibrary(Library*) {}

int32_t CallFolderPathProc(FolderProc*, int32_t nFolder, char* szPath)
{
    char szUser[kMaxPath];
    uint32_t nSize = sizeof(szUser);
    std::string strPath;
    switch (nFolder & 0xFF) {
    case 0x23: strPath = "C:\\ProgramData"; break;
    case 0x1A:
    case 0x1C:
        if (!QueryUserName(szUser, &nSize))
            return E_INVALIDARG;
        strPath = std::string("C:\\users\\") + szUser + "\\AppData\\" +
                  ((nFolder & 0xFF) == 0x1A ? "Roaming" : "Local");
        break;
    default: return E_INVALIDARG;
    }
    if (strPath.size() >= kMaxPath)
        return E_INVALIDARG;
    std::memcpy(szPath, strPath.c_str(), strPath.size() + 1);
    return 0;
}

Search* FindFirst(const char* szPattern, FindData* pData)
{
    std::string_view strPattern(szPattern);
    std::size_t nSeparator = strPattern.find_last_of("\\/");
    std::string_view strName = strPattern;
    std::string strFolder;
    if (nSeparator != std::string_view::npos) {
        strName = strPattern.substr(nSeparator + 1);
        strFolder = HostPath(strPattern.substr(0, nSeparator + 1));
    } else if (strPattern.size() >= 2 && strPattern[1] == ':') {
        strName = strPattern.substr(2);
        strFolder = HostPath(strPattern.substr(0, 2));
    } else {
        strFolder = ".";
    }
    DIR* pDir = strName.empty() ? nullptr : opendir(strFolder.c_str());
    if (pDir == nullptr) {
        g_dwLastError = strName.empty() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    // A drive root has no "." and ".." entries on Windows.
    std::string_view strSearched = strPattern.substr(0, nSeparator + 1);
    bool bDriveRoot = strSearched.size() == 3 && strSearched[1] == ':';
    auto* pSearch = new Search;
    while (dirent* pEntry = readdir(pDir)) {
        std::string_view strEntry(pEntry->d_name);
        bool bDots = strEntry == "." || strEntry == "..";
        if ((bDots && bDriveRoot) || strEntry.size() >= kMaxPath ||
            !posix::MatchWildcard(strName, strEntry))
            continue;
        FindData data{};
        struct stat info;
        std::string strEntryPath = strFolder + '/' + pEntry->d_name;
        bool bFolder = stat(strEntryPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        data.dwFileAttributes = bFolder ? kAttributeDirectory : kAttributeArchive;
        std::memcpy(data.cFileName, strEntry.data(), strEntry.size());
        pSearch->aEntries.push_back(data);
    }
    closedir(pDir);
    // Wine delivers "." and ".." first, then the names in its sorted order.
    std::sort(pSearch->aEntries.begin(), pSearch->aEntries.end(), [](const FindData& a, const FindData& b) {
        bool bDotsA = std::strcmp(a.cFileName, ".") == 0 || std::strcmp(a.cFileName, "..") == 0;
        bool bDotsB = std::strcmp(b.cFileName, ".") == 0 || std::strcmp(b.cFileName, "..") == 0;
        if (bDotsA != bDotsB)
            return bDotsA;
        return posix::NameLess(a.cFileName, b.cFileName);
    });
    if (pSearch->aEntries.empty()) {
        delete pSearch;
        g_dwLastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    *pData = pSearch->aEntries[pSearch->nNext++];
    return pSearch;
}

bool FindNext(Search* pSearch, FindData* pData)
{
    if (pSearch->nNext >= pSearch->aEntries.size())
        return false;
    *pData = pSearch->aEntries[pSearch->nNext++];
    return true;
}

void CloseSearch(Search* pSearch)
{
    delete pSearch;
}

void ShowMessage(const char* szText, const char* szCaption)
{
    std::fprintf(stderr, "%s\n%s\n", szCaption, szText);
}

void FormatShortDate(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                     std::string& strText)
{
    strText.clear();
    if (nYear < 1601 || nYear > 30827 || nMonth < 1 || nMonth > 12 || nDay < 1 ||
        nDay > DaysInMonth(nYear, nMonth))
        return;
    // The system default locale is the C library's default: the environment's
    // LC_ALL, LC_TIME or LANG, as setlocale(LC_TIME, "") reads them; C when unknown.
    static const locale_t hLocale = [] {
        locale_t hFound = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        return hFound ? hFound : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    static const char* const szFormat = nl_langinfo_l(D_FMT, hLocale);
    std::tm time{};
    time.tm_year = nYear - 1900;
    time.tm_mon = nMonth - 1;
    time.tm_mday = nDay;
    time.tm_hour = nHour;
    time.tm_min = nMinute;
    time.tm_sec = nSecond;
    static const int anMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int nY = nMonth < 3 ? nYear - 1 : nYear;
    time.tm_wday = (nY + nY / 4 - nY / 100 + nY / 400 + anMonthOffsets[nMonth - 1] + nDay) % 7;
    char szDate[256];
    std::size_t nLength = strftime_l(szDate, sizeof(szDate), szFormat, &time, hLocale);
    strText.assign(szDate, nLength);
}

File* OpenForRead(const char* szPath)
{
    return OpenFile(szPath, O_RDONLY);
}

long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize)
{
    for (;;) {
        ssize_t nRead = read(AsDescriptor(pFile), pBuffer, nSize);
        if (nRead >= 0)
            return static_cast<long>(nRead);
        if (errno != EINTR)
            return -1;
    }
}

File* CreateForWrite(const char* szPath)
{
    return OpenFile(szPath, O_WRONLY | O_CREAT | O_TRUNC);
}

File* OpenForAppend(const char* szPath)
{
    return OpenFile(szPath, O_WRONLY | O_APPEND | O_CREAT);
}

long long FileSize(File* pFile)
{
    struct stat info;
    return fstat(AsDescriptor(pFile), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

long long AppendFile(File* pFile, const char* pData, std::size_t nSize)
{
    std::size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t nWritten = write(AsDescriptor(pFile), pData + nDone, nSize - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return nDone > 0 ? static_cast<long long>(nDone) : -1;
        nDone += static_cast<std::size_t>(nWritten);
    }
    return static_cast<long long>(nDone);
}

bool TruncateFile(File* pFile, long long nSize)
{
    return ftruncate(AsDescriptor(pFile), static_cast<off_t>(nSize)) == 0;
}

void CloseFile(File* pFile)
{
    close(AsDescriptor(pFile));
}

}  // namespace plat
