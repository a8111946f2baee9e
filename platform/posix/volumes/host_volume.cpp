// The folders of this host as a volume: a Wine prefix's drives, a mounted system
// drive, the current directory. A search delivers names sorted as Wine sorts them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/codes.h"
#include "platform/posix/errors.h"
#include "platform/posix/locale/codepage.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/volumes/volume.h"
#include "platform/posix/wildcard.h"

namespace {

class CHostFile : public CVolumeFile {
public:
    explicit CHostFile(int nFd) : m_nFd(nFd) {}
    ~CHostFile() override { close(m_nFd); }

    long Read(char* pBuffer, std::size_t nSize) override
    {
        for (;;) {
            const ssize_t nRead = read(m_nFd, pBuffer, nSize);
            if (nRead >= 0)
                return static_cast<long>(nRead);
            if (errno != EINTR)
                return -1;
        }
    }

private:
    int m_nFd;
};

class CHostVolume : public CVolume {
public:
    bool List(const std::string& strFolder, std::vector<VOLUMEENTRY>& aEntries) const override
    {
        const int nFd = open(strFolder.empty() ? "." : strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (nFd >= 0 && !IsWithinRoots(nFd)) {
            close(nFd);
            errno = EACCES;
            return false;
        }
        DIR* pDir = nFd >= 0 ? fdopendir(nFd) : nullptr;
        if (pDir == nullptr) {
            if (nFd >= 0)
                close(nFd);
            return false;
        }
        std::vector<std::pair<std::u16string, VOLUMEENTRY>> aFound;
        while (dirent* pEntry = readdir(pDir)) {
            if (std::strcmp(pEntry->d_name, ".") == 0 || std::strcmp(pEntry->d_name, "..") == 0)
                continue;
            VOLUMEENTRY entry;
            entry.strName = pEntry->d_name;
            struct stat info;
            const std::string strPath = (strFolder.empty() ? "." : strFolder) + '/' + entry.strName;
            entry.bFolder = stat(strPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            aFound.emplace_back(Utf8ToUtf16(entry.strName), std::move(entry));
        }
        closedir(pDir);
        std::sort(aFound.begin(), aFound.end(),
                  [](const auto& a, const auto& b) { return NameLess(a.first, b.first); });
        aEntries.clear();
        for (auto& found : aFound)
            aEntries.push_back(std::move(found.second));
        return true;
    }

    bool Exists(const std::string& strPath) const override
    {
        struct stat info;
        return lstat(strPath.c_str(), &info) == 0;
    }

    std::unique_ptr<CVolumeFile> Open(const std::string& strPath, uint32_t* pdwError) const override
    {
        mode_t nType = 0;
        const int nFd = OpenHostRegularFile(strPath, pdwError, nType);
        return nFd < 0 ? nullptr : std::make_unique<CHostFile>(nFd);
    }

    int OpenDescriptor(const std::string& strPath, uint64_t nMaxSize, std::string& strError) const override
    {
        uint32_t dwError = 0;
        mode_t nType = 0;
        const int nFd = OpenHostRegularFile(strPath, &dwError, nType);
        if (nFd < 0) {
            strError = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? "missing"
                       : S_ISDIR(nType)                                                   ? "not a file"
                       : dwError == ERROR_BAD_FILE_TYPE
                           ? "not a regular file (" + DescribeFileType(nType) + ")"
                           : "unreadable (" + std::string(std::strerror(errno)) + ")";
            return -1;
        }
        // The file itself, not a copy: refused by its size alone, as an image's file is.
        struct stat info;
        if (fstat(nFd, &info) != 0)
            strError = "unreadable (" + std::string(std::strerror(errno)) + ")";
        else if (static_cast<uint64_t>(info.st_size) > nMaxSize)
            strError = TooLarge(nMaxSize);
        else
            return nFd;
        close(nFd);
        return -1;
    }

    bool IsWritable() const override { return true; }

    std::string DisplayName(const std::string& strPath) const override { return WindowsName(strPath); }
};

// The name in a folder that equals strName but for letter case, or strName itself
// when there is none.
std::string FindNameNoCase(const CVolume& volume, const std::string& strFolder, const std::string& strName)
{
    std::vector<VOLUMEENTRY> aEntries;
    if (volume.List(strFolder, aEntries))
        for (const VOLUMEENTRY& entry : aEntries)
            if (EqualNoCase(entry.strName, strName))
                return entry.strName;
    return strName;
}

}  // namespace

int OpenHostRegularFile(const std::string& strPath, uint32_t* pdwError, mode_t& nType)
{
    // What is no regular file (a folder opens on Linux, but is no file).
    const auto refuse = [&](mode_t nMode) {
        nType = nMode & S_IFMT;
        errno = S_ISDIR(nType) ? EISDIR : EINVAL;
        *pdwError = S_ISDIR(nType) ? ERROR_ACCESS_DENIED : ERROR_BAD_FILE_TYPE;
        return -1;
    };
    struct stat info;
    nType = 0;
    if (stat(strPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return refuse(info.st_mode);
    const int nFd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (nFd >= 0 && !IsWithinRoots(nFd)) {
        close(nFd);
        *pdwError = plat::ErrorFromErrno(EACCES);
        errno = EACCES;
        return -1;
    }
    if (nFd < 0) {
        *pdwError = plat::ErrorFromErrno(errno);
        return -1;
    }
    if (fstat(nFd, &info) != 0) {
        const int nErrno = errno;
        close(nFd);
        *pdwError = plat::ErrorFromErrno(nErrno);
        errno = nErrno;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        close(nFd);
        return refuse(info.st_mode);
    }
    return nFd;
}

std::string WindowsName(std::string_view strPath)
{
    std::string strName(strPath);
    while (!strName.empty() && strName.front() == '/')
        strName.erase(0, 1);
    std::replace(strName.begin(), strName.end(), '/', '\\');
    return strName;
}

std::string DescribeFileType(unsigned nMode)
{
    switch (nMode & S_IFMT) {
    case S_IFIFO: return "a FIFO";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFSOCK: return "a socket";
    case S_IFDIR: return "a folder";
    case S_IFLNK: return "a symbolic link";
    case S_IFREG: return "a file";
    default: return "of no known type";
    }
}

std::string TooLarge(uint64_t nMaxSize)
{
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    return "larger than " + (nMaxSize % kGiB == 0 && nMaxSize != 0 ? std::to_string(nMaxSize / kGiB) + " GiB"
                                                                   : std::to_string(nMaxSize) + " bytes");
}

const CVolume& HostVolume()
{
    static const CHostVolume volume;
    return volume;
}

bool EqualNoCase(std::string_view strLeft, std::string_view strRight)
{
    auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; };
    return strLeft.size() == strRight.size() &&
           std::equal(strLeft.begin(), strLeft.end(), strRight.begin(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

std::string FindNoCase(const CVolume& volume, const std::string& strRoot, std::string_view strRelative)
{
    std::string strPath = strRoot;
    std::size_t nStart = 0;
    while (nStart < strRelative.size()) {
        std::size_t nEnd = strRelative.find('\\', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strRelative.size();
        const std::string strName(strRelative.substr(nStart, nEnd - nStart));
        const std::string strExact = strPath + '/' + strName;
        strPath = volume.Exists(strExact) ? strExact
                                          : strPath + '/' + FindNameNoCase(volume, strPath, strName);
        nStart = nEnd + 1;
    }
    return strPath;
}
