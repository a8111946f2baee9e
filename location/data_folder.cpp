// The product data folder resolver. Every path it builds must fit in a 260-byte
// path buffer; a path that would not fit is treated as not found, never truncated.
#include "location/data_folder.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/mbstring.h"
#include "platform/platform.h"

char g_szUserName[48];
char g_szHomeDirectory[256];

namespace {

constexpr const char* kProductKey = "Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion";
constexpr const char* kHomeDirectoryValue = "Home Directory";
constexpr const char* kProductFolder = "Corvessa\\Tarvel Corporate Edition";
constexpr const char* kProfileMarker = "Default User";
constexpr double kVersionThreshold = 7.499;

bool FitsInPath(const std::string& strPath)
{
    return strPath.size() < plat::kMaxPath;
}

// The platform's last error, or dwFallback where the platform left none: a failure
// must never read as success.
uint32_t LastErrorOr(uint32_t dwFallback)
{
    uint32_t dwError = plat::LastError();
    return dwError != ERROR_SUCCESS ? dwError : dwFallback;
}

// Below the shell folder: the product folder and its highest version folder.
uint32_t FindVersionFolder(const char* szShellPath, char* szBuffer)
{
    std::string strProduct = std::string(szShellPath) + '\\' + kProductFolder;
    char szVersion[plat::kMaxPath];
    if (!FitsInPath(strProduct) || FindHighestVersionFolder(strProduct.c_str(), szVersion) == 0.0)
        return ERR_DATA_FOLDER_NOT_FOUND;
    // FindHighestVersionFolder only chooses names whose path below the folder fits.
    std::string strFolder = strProduct + '\\' + szVersion;
    std::memcpy(szBuffer, strFolder.c_str(), strFolder.size() + 1);
    return ERROR_SUCCESS;
}

// The NT family's answer: the shell's application-data folder and the version
// folder below it.
uint32_t FindShellDataFolder(int32_t nKind, char* szBuffer)
{
    char szSystem[plat::kMaxPath];
    uint32_t nLength = plat::QuerySystemDirectory(szSystem, plat::kMaxPath);
    if (nLength == 0)
        return LastErrorOr(ERROR_PATH_NOT_FOUND);
    if (nLength >= plat::kMaxPath)
        return ERROR_PATH_NOT_FOUND;
    std::string strLibrary = std::string(szSystem) + "\\shfolder.dll";
    if (!FitsInPath(strLibrary))
        return ERROR_PATH_NOT_FOUND;
    plat::Library* pLibrary = plat::OpenLibrary(strLibrary.c_str());
    if (pLibrary == nullptr)
        return LastErrorOr(ERROR_MOD_NOT_FOUND);

    // A library without the function leaves no shell path: fall back to the home
    // directory, as for a failed query.
    uint32_t dwStatus = ERR_DATA_FOLDER_NOT_FOUND;
    if (plat::FolderProc* pProc = plat::FindFolderPathProc(pLibrary, "SHGetFolderPathA")) {
        int32_t nFolder = CSIDL_COMMON_APPDATA;
        if (nKind == DATA_FOLDER_USER)
            nFolder = IsOsVersion5OrLater() ? (CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE)
                                            : CSIDL_APPDATA;
        char szShellPath[plat::kMaxPath] = {};
        if (plat::CallFolderPathProc(pProc, nFolder, szShellPath) >= 0) {
            szShellPath[plat::kMaxPath - 1] = '\0';
            if (MbsFind(szShellPath, kProfileMarker) != std::string_view::npos)
                SubstituteDefaultUser(szShellPath);
            dwStatus = FindVersionFolder(szShellPath, szBuffer);
        }
    }
    plat::CloseLibrary(pLibrary);
    return dwStatus;
}

}  // namespace

uint32_t GetProductDataFolder(int32_t nKind, char* szBuffer)
{
    if ((nKind != DATA_FOLDER_COMMON && nKind != DATA_FOLDER_USER) || szBuffer == nullptr)
        return ERROR_INVALID_PARAMETER;

    uint32_t nSize = sizeof(g_szUserName);
    if (!plat::QueryUserName(g_szUserName, &nSize))
        g_szUserName[0] = '\0';
    g_szUserName[sizeof(g_szUserName) - 1] = '\0';

    if (ReadHomeDirectory(g_szHomeDirectory, sizeof(g_szHomeDirectory)) != ERROR_SUCCESS)
        return ERR_PRODUCT_NOT_INSTALLED;

    const bool bNT = IsPlatformNT();
    uint32_t dwStatus = bNT ? FindShellDataFolder(nKind, szBuffer) : ERROR_SUCCESS;
    if (!bNT || dwStatus == ERR_DATA_FOLDER_NOT_FOUND)
        std::memcpy(szBuffer, g_szHomeDirectory, std::strlen(g_szHomeDirectory) + 1);
    return dwStatus;
}

namespace {

// "Home Directory" from one registry view, zero-terminated.
uint32_t ReadHomeDirectoryFrom(uint32_t dwView, char* szBuffer, uint32_t nSize)
{
    uint32_t nBytes = nSize;
    uint32_t dwStatus = plat::QueryMachineValue(
        kProductKey, kHomeDirectoryValue, reinterpret_cast<unsigned char*>(szBuffer), &nBytes, dwView);
    if (dwStatus != ERROR_SUCCESS)
        return dwStatus;
    // A value stored without its terminating zero is terminated here; one that fills
    // the whole buffer without a zero is longer than the buffer holds.
    if (std::memchr(szBuffer, '\0', nBytes) == nullptr) {
        if (nBytes >= nSize)
            return ERROR_MORE_DATA;
        szBuffer[nBytes] = '\0';
    }
    return ERROR_SUCCESS;
}

}  // namespace

bool IsSystem64Bit()
{
    return plat::IsProcess64Bit() || plat::QueryWow64Process() == plat::kWow64Yes;
}

int RegistryViews(uint32_t adwViews[2])
{
    if (!IsSystem64Bit()) {
        adwViews[0] = 0;
        return 1;
    }
    adwViews[0] = KEY_WOW64_32KEY;
    adwViews[1] = KEY_WOW64_64KEY;
    return 2;
}

uint32_t ReadHomeDirectory(char* szBuffer, uint32_t nSize)
{
    uint32_t adwViews[2];
    const int nViews = RegistryViews(adwViews);
    uint32_t dwStatus = ERROR_FILE_NOT_FOUND;
    for (int i = 0; i < nViews && dwStatus != ERROR_SUCCESS; ++i)
        dwStatus = ReadHomeDirectoryFrom(adwViews[i], szBuffer, nSize);
    return dwStatus;
}

bool IsPlatformNT()
{
    uint32_t dwPlatformId = 0;
    uint32_t dwMajorVersion = 0;
    return plat::QueryVersion(&dwPlatformId, &dwMajorVersion) && dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsOsVersion5OrLater()
{
    uint32_t dwPlatformId = 0;
    uint32_t dwMajorVersion = 0;
    return plat::QueryVersion(&dwPlatformId, &dwMajorVersion) && dwMajorVersion > 4;
}

int SubstituteDefaultUser(char* szPath)
{
    if (szPath == nullptr || g_szUserName[0] == '\0')
        return 1;
    std::string_view strPath(szPath);
    std::size_t nMarker = MbsFind(strPath, kProfileMarker);
    if (nMarker == std::string_view::npos)
        return 1;
    // The marker's component, up to the next backslash, becomes the user's name. With
    // no backslash after the marker the component runs to the end: the tail is empty.
    std::size_t nTail = MbsFindChar(strPath, '\\', nMarker);
    std::string strWork(strPath.substr(0, nMarker));
    strWork += g_szUserName;
    if (nTail != std::string_view::npos)
        strWork += strPath.substr(nTail);
    if (!FitsInPath(strWork) || !PathExists(strWork.c_str()))
        return 1;
    std::memcpy(szPath, strWork.c_str(), strWork.size() + 1);
    return 0;
}

bool PathExists(const char* szPath)
{
    plat::FindData data{};
    plat::Search* pSearch = plat::FindFirst(szPath, &data);
    if (pSearch == nullptr)
        return false;
    plat::CloseSearch(pSearch);
    return true;
}

double FindHighestVersionFolder(const char* szFolder, char* szName)
{
    std::string strPattern(szFolder);
    if (strPattern.size() != 3)
        strPattern += '\\';
    strPattern += "*.*";
    if (!FitsInPath(strPattern))
        return 0.0;
    // A chosen name must leave room for the path "folder\name" below the folder.
    const std::size_t nNameRoom = plat::kMaxPath - 1 - std::strlen(szFolder) - 1;

    plat::FindData data{};
    plat::Search* pSearch = plat::FindFirst(strPattern.c_str(), &data);
    if (pSearch == nullptr)
        return 0.0;
    double dBest = kVersionThreshold;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            continue;
        data.cFileName[plat::kMaxPath - 1] = '\0';
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
            continue;
        double dValue = std::strtod(data.cFileName, nullptr);
        std::size_t nLength = std::strlen(data.cFileName);
        if (dValue > dBest && nLength <= nNameRoom) {
            dBest = dValue;
            std::memcpy(szName, data.cFileName, nLength + 1);
        }
    } while (plat::FindNext(pSearch, &data));
    plat::CloseSearch(pSearch);
    return dBest == kVersionThreshold ? 0.0 : dBest;
}
