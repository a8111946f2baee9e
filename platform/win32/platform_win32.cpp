// The platform on Windows: the Win32 API in its ANSI variants.
#include "platform/win32/windows_headers.h"

#include <cstring>

#include "platform/platform.h"

namespace plat {

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathAProc)(HWND, int, HANDLE, DWORD, LPSTR);

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

}  // namespace

bool OpenSystem()
{
    return true;
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
                           uint32_t* pnSize)
{
    HKEY hKey;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_READ, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return static_cast<uint32_t>(nStatus);
    DWORD nSize = *pnSize;
    nStatus = RegQueryValueExA(hKey, szValue, nullptr, nullptr, pData, &nSize);
    *pnSize = nSize;
    RegCloseKey(hKey);
    return static_cast<uint32_t>(nStatus);
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

std::string ArgumentText(const char* szArgument)
{
    return szArgument;
}

void ShowMessage(const char* szText, const char* szCaption)
{
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

File* OpenForAppend(const char* szPath)
{
    return OpenShared(szPath, GENERIC_WRITE, OPEN_ALWAYS);
}

long long FileSize(File* pFile)
{
    LARGE_INTEGER nSize;
    return GetFileSizeEx(AsHandle(pFile), &nSize) ? nSize.QuadPart : -1;
}

long long AppendFile(File* pFile, const char* pData, std::size_t nSize)
{
    LARGE_INTEGER nZero;
    nZero.QuadPart = 0;
    if (!SetFilePointerEx(AsHandle(pFile), nZero, nullptr, FILE_END))
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
}

}  // namespace plat
