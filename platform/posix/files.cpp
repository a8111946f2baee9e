// Files and file search of the system, on its volumes: a file read is a volume's
// file, a file written a host descriptor; a search is the list of the names a
// folder holds, in the volume's order, each converted to the system's code page.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"
#include "platform/posix/host.h"
#include "platform/posix/locale/codepage.h"
#include "platform/posix/paths.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/system.h"
#include "platform/posix/wildcard.h"

namespace plat {

struct Search {
    std::vector<FindData> aEntries;
    std::size_t nNext = 0;
};

namespace {

bool g_bUnread = false;  // a folder or file was refused, and said

// Whether a file's mode certainly denies this process what reading it takes (a
// folder: its listing and search too), checked as the kernel checks a process
// without capabilities: the owner's bits, else the group's, else the others'. The
// supplementary groups cannot be asked in the reader: where they would decide,
// the mode is not blamed.
bool ModeDenies(const struct stat& info)
{
    const unsigned nNeeded = S_ISDIR(info.st_mode) ? 5 : 4;  // r-x, r--
    const auto denies = [&](int nShift) { return ((info.st_mode >> nShift) & nNeeded) != nNeeded; };
    if (info.st_uid == geteuid())
        return denies(6);
    gid_t anGroups[256];
    const int nGroups = getgroups(256, anGroups);
    if (info.st_gid == getegid() || std::find(anGroups, anGroups + std::max(nGroups, 0), info.st_gid) !=
                                        anGroups + std::max(nGroups, 0))
        return denies(3);
    // Beyond 256 groups the file's may be among them: then its mode does not tell.
    return nGroups < 0 ? denies(3) && denies(0) : denies(0);
}

// Why a folder or file of the system was not read: the host refuses it (nErrno
// EACCES: its mode, or else Landlock), or it is no file to read (0: a FIFO, a
// device, a socket).
std::string UnreadWhy(const std::string& strHostPath, int nErrno)
{
    struct stat info;
    if (nErrno == EACCES) {
        if (stat(strHostPath.c_str(), &info) == 0 && ModeDenies(info)) {
            char szMode[8];
            std::snprintf(szMode, sizeof(szMode), "%04o", static_cast<unsigned>(info.st_mode & 07777));
            // Root reads it once the sandbox, which takes root's capabilities, is off.
            return "permission denied by its mode " + std::string(szMode) + " and owner uid " +
                   std::to_string(info.st_uid) + ": " + strHostPath + "; run as its owner" +
                   (PathsConfined() && geteuid() == 0 ? ", or as root with VIRUSHIST_SANDBOX=off knowingly" : "");
        }
        return (PathsConfined() ? "outside the system's folders: " : "cannot be read (" + std::string(std::strerror(EACCES)) + "): ") +
               strHostPath;
    }
    return (stat(strHostPath.c_str(), &info) == 0 ? DescribeFileType(info.st_mode) : std::string("no file")) +
           ", not a file";
}

// A folder refused: one line, naming it as Windows and as this host name it.
void SayUnread(std::string_view strWindowsPath, const std::string& strHostPath)
{
    g_bUnread = true;
    WriteErrorLine(LinePrefix() + CSystem::Get().CodePage().ToUtf8(strWindowsPath) + ": " +
                   UnreadWhy(strHostPath, EACCES) + "; not read");
}

}  // namespace

bool AnyUnread()
{
    return g_bUnread;
}

namespace {

// A file opened for writing is a host descriptor, as on Windows it is the handle:
// nothing to allocate (the history file is opened once a row). Its value is the
// descriptor shifted, with the lowest bit set, so that no file is null. A file opened
// for reading is a volume's file, an object: its lowest bit is clear.
File* AsFile(int nFd)
{
    return reinterpret_cast<File*>(static_cast<std::uintptr_t>(nFd) << 1 | 1);
}

File* AsFile(CVolumeFile* pFile)
{
    return reinterpret_cast<File*>(pFile);
}

bool IsDescriptor(File* pFile)
{
    return reinterpret_cast<std::uintptr_t>(pFile) & 1;
}

int AsDescriptor(File* pFile)
{
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(pFile) >> 1);
}

CVolumeFile* AsVolumeFile(File* pFile)
{
    return reinterpret_cast<CVolumeFile*>(pFile);
}

// A bare ASCII file name, such as the history file's, is its own host path.
bool IsBareName(const char* szPath)
{
    return *szPath != '\0' && std::strpbrk(szPath, "\\/:") == nullptr &&
           std::none_of(szPath, szPath + std::strlen(szPath),
                        [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
}

bool IsNotFound(uint32_t dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

// Opens a file for writing the way Windows would name it: first as written, then
// with its components matched case-insensitively. Only host folders are written.
// A write beyond the file size limit must fail, not end the process.
void IgnoreSizeSignal()
{
    static const bool bNoSizeSignal = [] {
        signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)bNoSizeSignal;
}

// Opens a host path for writing; with O_CREAT, *pbCreated (when asked) says
// whether this open created the file. An output that is a symbolic link, dangling
// or not, is refused (ELOOP): in a folder others can write, it would aim the run's
// writes at a file of their choosing.
int OpenHostFile(const char* szPath, int nFlags, bool* pbCreated)
{
    nFlags |= O_NOFOLLOW | O_CLOEXEC;
    if (pbCreated == nullptr || !(nFlags & O_CREAT))
        return open(szPath, nFlags, 0666);
    // Opened as it is, else created; a file made or removed between the two by
    // another process is tried again, a few times.
    for (int nTry = 0;; ++nTry) {
        int nFd = open(szPath, nFlags & ~O_CREAT);
        if (nFd >= 0 || errno != ENOENT) {
            *pbCreated = false;
            return nFd;
        }
        nFd = open(szPath, nFlags | O_EXCL, 0666);
        if (nFd >= 0 || errno != EEXIST || nTry == 8) {
            *pbCreated = nFd >= 0;
            return nFd;
        }
    }
}

File* OpenForWriting(const char* szPath, int nFlags, bool* pbCreated = nullptr)
{
    IgnoreSizeSignal();
    const bool bBareName = IsBareName(szPath);
    const VOLUMEPATH direct = bBareName ? VOLUMEPATH{&HostVolume(), szPath} : DirectPath(szPath);
    if (direct.pVolume != nullptr && !direct.pVolume->IsWritable()) {
        SetLastError(ERROR_WRITE_PROTECT);
        return nullptr;
    }
    if (pbCreated != nullptr)
        *pbCreated = false;
    // A bare name is its own host path, and is made as it stands; any other path
    // is matched as Windows would match it first.
    int nFd = bBareName ? -1 : open(direct.strPath.c_str(), (nFlags & ~O_CREAT) | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (bBareName || (nFd < 0 && errno == ENOENT))
        nFd = OpenHostFile(bBareName ? szPath : ResolvePath(szPath).strPath.c_str(), nFlags, pbCreated);
    if (nFd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    return AsFile(nFd);
}

}  // namespace

Search* FindFirst(const char* szPattern, FindData* pData)
{
    const CCodePage& codePage = CSystem::Get().CodePage();
    const std::string_view strPattern(szPattern);
    const std::size_t nSeparator = FindLastSeparator(strPattern);
    std::string_view strName = strPattern;
    VOLUMEPATH folder{&HostVolume(), "."};
    if (nSeparator != std::string_view::npos) {
        strName = strPattern.substr(nSeparator + 1);
        folder = ResolvePath(strPattern.substr(0, nSeparator + 1));
    } else if (strPattern.size() >= 2 && strPattern[1] == ':') {
        strName = strPattern.substr(2);
        folder = ResolvePath(strPattern.substr(0, 2));
    }
    std::vector<VOLUMEENTRY> aEntries;
    if (strName.empty() || folder.pVolume == nullptr || !folder.pVolume->List(folder.strPath, aEntries)) {
        if (!strName.empty() && folder.pVolume == &HostVolume() && errno == EACCES)
            SayUnread(strPattern.substr(0, nSeparator), folder.strPath);
        SetLastError(strName.empty() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    // A folder delivers "." and ".." first, but for a drive root, which has none on
    // Windows; then its names in the volume's order. Names are matched as UTF-16,
    // as Wine does, and delivered in the code page: a name without a form there has
    // "?" in its place, as on Windows.
    const std::string_view strSearched = strPattern.substr(0, nSeparator + 1);
    if (!(strSearched.size() == 3 && strSearched[1] == ':'))
        aEntries.insert(aEntries.begin(), {VOLUMEENTRY{".", true}, VOLUMEENTRY{"..", true}});
    const std::u16string strNamePattern = codePage.ToUtf16(strName);
    auto pSearch = std::make_unique<Search>();
    for (const VOLUMEENTRY& entry : aEntries) {
        const std::u16string strEntry = Utf8ToUtf16(entry.strName);
        if (!MatchWildcard(strNamePattern, strEntry))
            continue;
        const std::string strAnsi = codePage.FromUtf16(strEntry);
        if (strAnsi.size() >= kMaxPath)
            continue;
        FindData data{};
        data.dwFileAttributes = entry.bFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        std::memcpy(data.cFileName, strAnsi.data(), strAnsi.size());
        pSearch->aEntries.push_back(data);
    }
    if (pSearch->aEntries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    *pData = pSearch->aEntries[pSearch->nNext++];
    return pSearch.release();
}

bool CanRecoverHistory(std::string& strWhy)
{
    if (CSystem::Get().Volume().empty()) {
        strWhy = "VIRUSHIST_RECOVER reads a disk image (VIRUSHIST_SYSTEM_DRIVE=<image file>); " +
                 CSystem::Get().Name() + " is no image";
        return false;
    }
    return true;
}

void FindDeleted(const char* szSearch, std::vector<DeletedFile>& aFiles)
{
    aFiles.clear();
    const CCodePage& codePage = CSystem::Get().CodePage();
    const std::string_view strSearch(szSearch);
    const std::size_t nSeparator = FindLastSeparator(strSearch);
    if (nSeparator == std::string_view::npos)
        return;
    const VOLUMEPATH folder = ResolvePath(strSearch.substr(0, nSeparator + 1));
    if (folder.pVolume == nullptr)
        return;
    std::vector<DELETEDENTRY> aEntries;
    folder.pVolume->ListDeleted(folder.strPath, aEntries);
    const std::u16string strPattern = codePage.ToUtf16(strSearch.substr(nSeparator + 1));
    for (const DELETEDENTRY& entry : aEntries) {
        const std::u16string strFound = Utf8ToUtf16(entry.strName);
        std::u16string strName = strFound;
        // A lost first letter matches any: the pattern's own, where it has one.
        if (entry.strName[0] == '?' && !strName.empty() && !strPattern.empty() && strPattern[0] != u'*' &&
            strPattern[0] != u'?')
            strName[0] = strPattern[0];
        if (!MatchWildcard(strPattern, strName))
            continue;
        aFiles.push_back(DeletedFile{codePage.FromUtf16(strFound), entry.nAddress});
    }
}

File* OpenDeleted(const DeletedFile& file)
{
    const VOLUMEPATH root = CSystem::Get().Drive('C');
    if (root.pVolume == nullptr)
        return nullptr;
    std::unique_ptr<CVolumeFile> pFile = root.pVolume->OpenDeleted(file.nAddress);
    return pFile != nullptr ? AsFile(pFile.release()) : nullptr;
}

void FindShadowCopies(std::vector<ShadowCopy>& aCopies, std::vector<std::string>& astrSkipped)
{
    aCopies.clear();
    astrSkipped.clear();
    std::string strError;
    const std::vector<SHADOWCOPY>& aOpened = CSystem::Get().ShadowCopies(strError);
    if (!strError.empty())
        astrSkipped.push_back(strError);
    for (auto copy = aOpened.rbegin(); copy != aOpened.rend(); ++copy) {
        if (copy->pVolume == nullptr) {
            astrSkipped.push_back("shadow copy " + std::to_string(copy->nNumber) + " is skipped: " + copy->strError);
            continue;
        }
        // FILETIME counts 100 ns from 1601.
        static const long long n1601 = MinutesOf({1601, 1, 1, 0, 0, 0});
        const uint64_t nSeconds = copy->nCreated / 10000000;
        aCopies.push_back(ShadowCopy{copy->nNumber, DateTimeOfMinutes(static_cast<long long>(nSeconds / 60) + n1601,
                                                                      static_cast<int>(nSeconds % 60))});
    }
}

void ReadShadowCopy(unsigned nNumber)
{
    CSystem::Get().ReadShadowCopy(nNumber);
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
    // As written first, then with its components matched case-insensitively.
    uint32_t dwError = ERROR_PATH_NOT_FOUND;
    std::unique_ptr<CVolumeFile> pFile;
    if (IsBareName(szPath)) {
        pFile = HostVolume().Open(szPath, &dwError);
    } else {
        const VOLUMEPATH direct = DirectPath(szPath);
        if (direct.pVolume != nullptr)
            pFile = direct.pVolume->Open(direct.strPath, &dwError);
        if (pFile == nullptr && IsNotFound(dwError)) {
            const VOLUMEPATH found = ResolvePath(szPath);
            if (found.pVolume != nullptr)
                pFile = found.pVolume->Open(found.strPath, &dwError);
        }
    }
    if (pFile == nullptr) {
        // The reader says which file and why: what is no file, or outside the
        // system's folders, in the layer's own words.
        std::string strWhy;
        if (dwError == ERROR_BAD_FILE_TYPE || (dwError == ERROR_ACCESS_DENIED && errno == EACCES))
            strWhy = UnreadWhy(ResolvePath(szPath).strPath, dwError == ERROR_BAD_FILE_TYPE ? 0 : EACCES);
        SetLastError(dwError, strWhy);
        return nullptr;
    }
    return AsFile(pFile.release());
}

long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize)
{
    return IsDescriptor(pFile) ? -1 : AsVolumeFile(pFile)->Read(pBuffer, nSize);
}

File* CreateForWrite(const char* szPath)
{
    return OpenForWriting(szPath, O_WRONLY | O_CREAT | O_TRUNC);
}

File* OpenHeld(const char* szPath, bool bNamed, bool* pbHeld, bool* pbCreated)
{
    *pbHeld = *pbCreated = false;
    IgnoreSizeSignal();
    File* pFile = nullptr;
    if (!bNamed) {
        pFile = OpenForWriting(szPath, O_WRONLY | O_CREAT, pbCreated);
    } else if (const int nFd = OpenHostFile(szPath, O_WRONLY | O_CREAT, pbCreated); nFd >= 0) {
        pFile = AsFile(nFd);
    } else {
        SetLastError(ErrorFromErrno(errno));
    }
    if (pFile == nullptr)
        return nullptr;
    if (flock(AsDescriptor(pFile), LOCK_EX | LOCK_NB) != 0) {
        *pbHeld = errno == EWOULDBLOCK;
        SetLastError(*pbHeld ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno));
        close(AsDescriptor(pFile));
        return nullptr;
    }
    return pFile;
}

bool RemoveFile(const char* szPath, bool bNamed)
{
    if (bNamed || IsBareName(szPath))
        return unlink(szPath) == 0;
    const VOLUMEPATH found = ResolvePath(szPath);
    return found.pVolume != nullptr && found.pVolume->IsWritable() && unlink(found.strPath.c_str()) == 0;
}

File* OpenStandardOutput()
{
    // A reader that goes away (a pipe into head) makes writes fail with EPIPE; the
    // signal would end the run before the history file is whole.
    signal(SIGPIPE, SIG_IGN);
    IgnoreSizeSignal();
    const int nFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (nFd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    return AsFile(nFd);
}

bool IsDiskFile(File* pFile)
{
    struct stat info;
    return IsDescriptor(pFile) && fstat(AsDescriptor(pFile), &info) == 0 && S_ISREG(info.st_mode);
}

File* OpenForAppend(const char* szPath)
{
    return OpenForWriting(szPath, O_WRONLY | O_APPEND | O_CREAT);
}

long long FileSize(File* pFile)
{
    struct stat info;
    return IsDescriptor(pFile) && fstat(AsDescriptor(pFile), &info) == 0 ? static_cast<long long>(info.st_size)
                                                                         : -1;
}

long long AppendFile(File* pFile, const char* pData, std::size_t nSize)
{
    if (!IsDescriptor(pFile))
        return -1;
    std::size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t nWritten = write(AsDescriptor(pFile), pData + nDone, nSize - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0) {
            // Why, for the line that says it: the system's error (a file size limit
            // is EFBIG), or a write that took nothing and gave none.
            if (nWritten < 0)
                SetLastError(ErrorFromErrno(errno));
            else
                SetLastError(ERROR_GEN_FAILURE, "a short write, with no error given");
            return nDone > 0 ? static_cast<long long>(nDone) : -1;
        }
        nDone += static_cast<std::size_t>(nWritten);
    }
    return static_cast<long long>(nDone);
}

bool TruncateFile(File* pFile, long long nSize)
{
    if (!IsDescriptor(pFile))
        return false;
    if (ftruncate(AsDescriptor(pFile), static_cast<off_t>(nSize)) == 0)
        return true;
    SetLastError(ErrorFromErrno(errno));
    return false;
}

void CloseFile(File* pFile)
{
    if (IsDescriptor(pFile))
        close(AsDescriptor(pFile));
    else
        delete AsVolumeFile(pFile);
}

}  // namespace plat
