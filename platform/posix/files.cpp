// Files and file search of the system: a File is a descriptor, a search the sorted
// list of the names a folder holds, each converted to the system's code page.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/codepage.h"
#include "platform/posix/errors.h"
#include "platform/posix/paths.h"
#include "platform/posix/system.h"
#include "platform/posix/wildcard.h"

namespace plat {

struct Search {
    std::vector<FindData> aEntries;
    std::size_t nNext = 0;
};

namespace {

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

uint32_t ErrorOf(int nErrno)
{
    switch (nErrno) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
    }
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
    // A bare ASCII file name, such as the history file's, is its own host path.
    const bool bBareName =
        *szPath != '\0' && std::strpbrk(szPath, "\\/:") == nullptr &&
        std::none_of(szPath, szPath + std::strlen(szPath),
                     [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
    int nFd = open(bBareName ? szPath : DirectPath(szPath).c_str(), (nFlags & ~O_CREAT) | O_CLOEXEC,
                   0666);
    if (nFd < 0 && errno == ENOENT)
        nFd = open(HostPath(szPath).c_str(), nFlags | O_CLOEXEC, 0666);
    if (nFd < 0) {
        SetLastError(ErrorOf(errno));
        return nullptr;
    }
    // A folder opens for reading (not for writing: EISDIR), but is not a file.
    struct stat info;
    if ((nFlags & O_ACCMODE) == O_RDONLY && (fstat(nFd, &info) != 0 || S_ISDIR(info.st_mode))) {
        close(nFd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return AsFile(nFd);
}

bool IsDots(std::u16string_view strName)
{
    return strName == u"." || strName == u"..";
}

}  // namespace

Search* FindFirst(const char* szPattern, FindData* pData)
{
    const CCodePage& codePage = CSystem::Get().CodePage();
    const std::string_view strPattern(szPattern);
    const std::size_t nSeparator = FindLastSeparator(strPattern);
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
        SetLastError(strName.empty() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    // Names are matched and sorted as UTF-16, as Wine does, and delivered in the
    // code page: a name without a form there has "?" in its place, as on Windows.
    const std::u16string strNamePattern = codePage.ToUtf16(strName);
    const std::string_view strSearched = strPattern.substr(0, nSeparator + 1);
    const bool bDriveRoot = strSearched.size() == 3 && strSearched[1] == ':';
    std::vector<std::pair<std::u16string, FindData>> aFound;
    while (dirent* pEntry = readdir(pDir)) {
        std::u16string strEntry = Utf8ToUtf16(pEntry->d_name);
        // A drive root has no "." and ".." entries on Windows.
        if ((bDriveRoot && IsDots(strEntry)) || !MatchWildcard(strNamePattern, strEntry))
            continue;
        const std::string strAnsi = codePage.FromUtf16(strEntry);
        if (strAnsi.size() >= kMaxPath)
            continue;
        FindData data{};
        struct stat info;
        const std::string strEntryPath = strFolder + '/' + pEntry->d_name;
        const bool bFolder = stat(strEntryPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        data.dwFileAttributes = bFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        std::memcpy(data.cFileName, strAnsi.data(), strAnsi.size());
        aFound.emplace_back(std::move(strEntry), data);
    }
    closedir(pDir);
    if (aFound.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    // Wine delivers "." and ".." first, then the names in its sorted order.
    std::sort(aFound.begin(), aFound.end(), [](const auto& a, const auto& b) {
        if (IsDots(a.first) != IsDots(b.first))
            return IsDots(a.first);
        return NameLess(a.first, b.first);
    });
    auto* pSearch = new Search;
    for (auto& found : aFound)
        pSearch->aEntries.push_back(found.second);
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
