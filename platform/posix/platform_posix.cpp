// platform/posix/ reads a Windows system from outside, by what it reads. This
// folder holds the host and the system: the system opened once per run (system),
// Windows paths as places on volumes (paths), files and search (files, wildcard),
// the command line's options (options), the host's errors and locale (errors,
// host), and the split into a confined reader and a writer (split_run, sandbox).
// Beneath it: volumes/ where a drive's files live (a host folder, a disk image,
// shadow copies), registry/ the registry readers (Wine's text files, binary
// hives), locale/ the system's code pages, calendars, date pictures and time
// zones.
//
// The platform on POSIX: the Windows system of this run (system.h) seen as the
// local machine. Version, system directory and the all-users folder are the
// system's; on a Wine prefix the user is the login name and the user folders are
// Wine's, on a mounted drive or image no user is logged on. The shell library is
// part of the layer; the message box goes to standard error; the short date is the
// system's own picture in its calendar; the string table is the one generated from
// the Windows resource file; the command line is converted to the system's code page.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/clock.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"
#include "platform/posix/host.h"
#include "platform/posix/locale/calendar.h"
#include "platform/posix/locale/codepage.h"
#include "platform/posix/locale/date_picture.h"
#include "platform/posix/paths.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/system.h"
#include "platform/posix/volumes/image_layers.h"
#include "resources/string_table.h"

namespace plat {

struct Library {};
struct FolderProc {};

namespace {

uint32_t g_dwLastError = 0;
Library g_shellLibrary;
FolderProc g_folderPathProc;


// The short date of the C library's default locale, for a system without a picture:
// the environment's LC_ALL, LC_TIME or LANG, as setlocale(LC_TIME, "") reads them;
// C when unknown.
void FormatLibraryDate(int nYear, int nMonth, int nDay, std::string& strText)
{
    static const locale_t hLocale = [] {
        locale_t hFound = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        return hFound ? hFound : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    static const char* const szFormat = nl_langinfo_l(D_FMT, hLocale);
    std::tm time{};
    time.tm_year = nYear - 1900;
    time.tm_mon = nMonth - 1;
    time.tm_mday = nDay;
    static const int anMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int nY = nMonth < 3 ? nYear - 1 : nYear;
    time.tm_wday = (nY + nY / 4 - nY / 100 + nY / 400 + anMonthOffsets[nMonth - 1] + nDay) % 7;
    char szDate[256];
    std::size_t nLength = strftime_l(szDate, sizeof(szDate), szFormat, &time, hLocale);
    strText.assign(szDate, nLength);
}

}  // namespace

std::string g_strLastWhy;  // the layer's own words for the last error, if any

void SetLastError(uint32_t dwError)
{
    g_dwLastError = dwError;
    g_strLastWhy.clear();
}

void SetLastError(uint32_t dwError, const std::string& strWhy)
{
    g_dwLastError = dwError;
    g_strLastWhy = strWhy;
}

namespace {

int g_nLastErrno = 0;  // of the last error ErrorFromErrno gave

}  // namespace

uint32_t ErrorFromErrno(int nErrno)
{
    g_nLastErrno = nErrno;
    switch (nErrno) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
    }
}

uint32_t LastError()
{
    return g_dwLastError;
}

std::string LastErrorText()
{
    // The errno behind the last error where it came from one; else Wine's words for
    // the code.
    if (!g_strLastWhy.empty())
        return g_strLastWhy;
    if (g_nLastErrno == ELOOP && ErrorFromErrno(ELOOP) == g_dwLastError)
        return "it is a symbolic link, which is not followed";
    if (g_nLastErrno != 0 && ErrorFromErrno(g_nLastErrno) == g_dwLastError)
        return std::strerror(g_nLastErrno);
    switch (g_dwLastError) {
    case ERROR_FILE_NOT_FOUND: return std::strerror(ENOENT);
    case ERROR_PATH_NOT_FOUND: return std::strerror(ENOTDIR);
    case ERROR_ACCESS_DENIED: return std::strerror(EACCES);
    case ERROR_WRITE_PROTECT: return std::strerror(EROFS);
    default: return "error " + std::to_string(g_dwLastError);
    }
}

bool OpenSystem()
{
    const std::string& strError = CSystem::Get().Error();
    if (strError.empty())
        return true;
    WriteErrorLine(LinePrefix() + strError);
    return false;
}

namespace {

// This host's login name, looked up once: the lookup may ask a name service over
// a socket, which a reader may not open.
const char* LoginName()
{
    static const std::string strLogin = [] {
        const passwd* pUser = getpwuid(geteuid());
        const char* szLogin = pUser ? pUser->pw_name : std::getenv("USER");
        return std::string(szLogin != nullptr ? szLogin : "");
    }();
    return strLogin.empty() ? nullptr : strLogin.c_str();
}

}  // namespace

bool QueryUserName(char* szName, uint32_t* pnSize)
{
    if (!CSystem::Get().HasLoggedOnUser()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    const char* szLogin = LoginName();
    if (szLogin == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::size_t nLength = std::strlen(szLogin);
    if (nLength + 1 > *pnSize) {
        *pnSize = static_cast<uint32_t>(nLength + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(szName, szLogin, nLength + 1);
    *pnSize = static_cast<uint32_t>(nLength + 1);
    return true;
}

bool QueryVersion(uint32_t* pdwPlatformId, uint32_t* pdwMajorVersion)
{
    *pdwPlatformId = VER_PLATFORM_WIN32_NT;
    *pdwMajorVersion = CSystem::Get().MajorVersion();
    return true;
}

uint32_t QuerySystemDirectory(char* szPath, uint32_t nSize)
{
    const std::string& strDirectory = CSystem::Get().SystemDirectory();
    const uint32_t nLength = static_cast<uint32_t>(strDirectory.size());
    if (nLength + 1 > nSize)
        return nLength + 1;
    std::memcpy(szPath, strDirectory.c_str(), nLength + 1);
    return nLength;
}

const LeadByteTable& LeadBytes()
{
    return CSystem::Get().CodePage().LeadBytes();
}

uint32_t QueryMachineValue(const char* szSubKey, const char* szValue, unsigned char* pData,
                           uint32_t* pnSize, uint32_t dwView)
{
    return CSystem::Get().QueryMachineValue(szSubKey, szValue, pData, pnSize, dwView);
}

bool IsProcess64Bit()
{
    return CSystem::Get().Is64Bit();
}

Wow64Answer QueryWow64Process()
{
    return kWow64No;
}

Library* OpenLibrary(const char* szPath)
{
    // The shell library is part of the layer itself; no other library exists.
    std::string_view strPath(szPath);
    std::size_t nSlash = strPath.find_last_of("\\/");
    std::string_view strName = nSlash == std::string_view::npos ? strPath : strPath.substr(nSlash + 1);
    if (!EqualNoCase(strName, "shfolder.dll")) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return &g_shellLibrary;
}

FolderProc* FindFolderPathProc(Library*, const char* szName)
{
    if (std::strcmp(szName, "SHGetFolderPathA") != 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
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
    switch (nFolder & ~CSIDL_FLAG_CREATE) {
    case CSIDL_COMMON_APPDATA:
        strPath = CSystem::Get().CommonAppData();
        if (strPath.empty())
            return E_INVALIDARG;
        break;
    case CSIDL_APPDATA:
    case CSIDL_LOCAL_APPDATA:
        if (!QueryUserName(szUser, &nSize))
            return E_INVALIDARG;
        strPath = std::string("C:\\users\\") + szUser + "\\AppData\\" +
                  ((nFolder & ~CSIDL_FLAG_CREATE) == CSIDL_APPDATA ? "Roaming" : "Local");
        break;
    default: return E_INVALIDARG;
    }
    if (strPath.size() >= kMaxPath)
        return E_INVALIDARG;
    std::memcpy(szPath, strPath.c_str(), strPath.size() + 1);
    return 0;
}

bool LoadStringResource(uint32_t nID, std::string& strText)
{
    return FindStringTableText(nID, strText);
}

// The host's character set, as the environment's locale names it; UTF-8 in the C
// or POSIX locale, whose ASCII no terminal sends any more.
const std::string& HostCharset()
{
    static const std::string strCharset = [] {
        locale_t hLocale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        std::string strName = hLocale ? nl_langinfo_l(CODESET, hLocale) : "";
        if (hLocale)
            freelocale(hLocale);
        return strName.empty() || strName == "ANSI_X3.4-1968" ? std::string("UTF-8") : strName;
    }();
    return strCharset;
}

// An argument in UTF-16, the last one converted kept: a reader converts it before
// its sandbox, where iconv may still load its modules.
const std::u16string& ArgumentUtf16(const char* szArgument)
{
    static std::string strLast;
    static std::u16string strConverted;  // of strLast; empty for the empty text
    if (strLast != szArgument) {
        strLast = szArgument;
        strConverted = HostTextToUtf16(szArgument, HostCharset());
    }
    return strConverted;
}

void WarmHostLocale(const char* szPattern)
{
    std::string strDate;
    FormatLibraryDate(2001, 1, 1, strDate);
    if (szPattern != nullptr)
        ArgumentUtf16(szPattern);
    Utf8ToUtf16("-");
    Utf16ToUtf8(u"-");
    LoadSystemCodePages();
    LoginName();
    // libhivex recodes key names between Latin-1 and UTF-8, and the C library
    // loads that converter from a file: held open, it stays loaded. Volatile, as
    // nothing reads the handles: an optimised build would otherwise keep them
    // nowhere, and the leak checker reports a converter no memory points to.
    static volatile iconv_t ahHiveConverters[] = {iconv_open("UTF-8", "LATIN1"), iconv_open("LATIN1", "UTF-8")};
    (void)ahHiveConverters;
}

std::string ArgumentText(const char* szArgument)
{
    return CSystem::Get().CodePage().FromUtf16(ArgumentUtf16(szArgument));
}

void ShowMessage(const char* szText, const char* szCaption)
{
    // The caption, then each line of the text, as the run's other lines are said.
    const std::string strPrefix = LinePrefix();
    WriteErrorLine(strPrefix + szCaption);
    std::string strLine = strPrefix;
    for (const char* p = szText;; ++p) {
        if (*p == '\n' || *p == '\0') {
            WriteErrorLine(strLine);
            strLine = strPrefix;
            if (*p == '\0')
                break;
        } else {
            strLine += *p;
        }
    }
}

void FormatShortDate(int nYear, int nMonth, int nDay, int, int, int, std::string& strText)
{
    strText.clear();
    if (nYear < 1601 || nYear > 30827 || nMonth < 1 || nMonth > 12 || nDay < 1 ||
        nDay > DaysInMonth(nYear, nMonth))
        return;
    const CSystem& system = CSystem::Get();
    if (system.ShortDatePicture().empty()) {
        FormatLibraryDate(nYear, nMonth, nDay, strText);
        return;
    }
    // The date's numbers in the system's calendar; a date outside its range has
    // no short date, as GetDateFormatA refuses it.
    CALENDARDATE date;
    if (!ToCalendar(system.Calendar(), system.HijriAdjustment(), nYear, nMonth, nDay, date))
        return;
    std::u16string strDate;
    if (FormatDatePicture(system.ShortDatePicture(), date.nYear, date.nMonth, date.nDay, strDate, date.strEra))
        strText = system.CodePage().FromUtf16(strDate);
    else
        FormatLibraryDate(nYear, nMonth, nDay, strText);
}

std::string TimeZoneName()
{
    const TIMEZONE* pZone = CSystem::Get().TimeZone();
    return pZone != nullptr ? pZone->strKeyName : std::string();
}

bool LocalTimeToUtc(const DATETIME& local, DATETIME& utc)
{
    const TIMEZONE* pZone = CSystem::Get().TimeZone();
    int64_t nBias = 0;
    if (pZone != nullptr && !LocalBias(*pZone, local.nYear, local.nMonth, local.nDay, local.nHour, local.nMinute,
                                       local.nSecond, nBias))
        return false;
    const DATETIME result = DateTimeOfMinutes(MinutesOf(local) + nBias, local.nSecond);
    // The years a SYSTEMTIME holds.
    if (result.nYear < 1601 || result.nYear > 30827)
        return false;
    utc = result;
    return true;
}

std::string TextToUtf8(std::string_view strText)
{
    return CSystem::Get().CodePage().ToUtf8(strText);
}

std::string SystemName()
{
    return NamedSystem();
}

std::string SystemVolume()
{
    return CSystem::Get().Volume();
}

}  // namespace plat
