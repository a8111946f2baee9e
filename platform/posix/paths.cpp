// Path mapping. A path on a drive the system does not have maps to the empty path,
// which nothing opens. A path is split at separators that are characters of their own (a
// trail byte 0x5C of a two-byte character is none), and each name converted from
// the code page to UTF-8; ASCII names are their own host names.
#include "platform/posix/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/posix/system.h"

namespace {

bool IsSeparator(char ch)
{
    return ch == '\\' || ch == '/';
}

bool IsAscii(std::string_view strText)
{
    return std::all_of(strText.begin(), strText.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}


// The host folder a Windows path starts from, and the rest of the path: a drive
// letter maps to its folder, a path from the root to drive C:; a relative path has
// no root (it starts from the current directory). False for a drive the system
// does not have.
bool SplitRoot(std::string_view& strPath, std::string& strRoot)
{
    const CSystem& system = CSystem::Get();
    if (strPath.size() >= 2 && strPath[1] == ':' &&
        ((strPath[0] | 0x20) >= 'a' && (strPath[0] | 0x20) <= 'z')) {
        strRoot = system.DriveFolder(strPath[0]);
        strPath.remove_prefix(2);
        return !strRoot.empty();
    }
    if (!strPath.empty() && IsSeparator(strPath[0])) {
        strRoot = system.DriveFolder('C');
        return true;
    }
    strRoot.clear();
    return true;
}

// The components of a path: split at separators that are characters of their own.
std::vector<std::string_view> Components(std::string_view strPath)
{
    const plat::LeadByteTable& leadBytes = CSystem::Get().CodePage().LeadBytes();
    std::vector<std::string_view> astrParts;
    std::size_t nStart = 0;
    for (std::size_t nPos = 0; nPos < strPath.size();) {
        if (IsSeparator(strPath[nPos])) {
            astrParts.push_back(strPath.substr(nStart, nPos - nStart));
            nStart = ++nPos;
        } else {
            nPos += leadBytes.abLead[static_cast<unsigned char>(strPath[nPos])] ? 2 : 1;
        }
    }
    astrParts.push_back(strPath.substr(std::min(nStart, strPath.size())));
    return astrParts;
}

// The name in folder strDir that equals strName but for letter case, or strName
// itself when there is none.
std::string FindNameNoCase(const std::string& strDir, const std::string& strName)
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

}  // namespace

bool EqualNoCase(std::string_view strLeft, std::string_view strRight)
{
    auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; };
    return strLeft.size() == strRight.size() &&
           std::equal(strLeft.begin(), strLeft.end(), strRight.begin(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

std::string FindNoCase(const std::string& strRoot, std::string_view strRelative)
{
    std::string strHost = strRoot;
    std::size_t nStart = 0;
    while (nStart < strRelative.size()) {
        std::size_t nEnd = strRelative.find('\\', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strRelative.size();
        strHost += '/' + FindNameNoCase(strHost, std::string(strRelative.substr(nStart, nEnd - nStart)));
        nStart = nEnd + 1;
    }
    return strHost;
}

std::size_t FindLastSeparator(std::string_view strPath)
{
    const std::vector<std::string_view> astrParts = Components(strPath);
    if (astrParts.size() < 2)
        return std::string_view::npos;
    return static_cast<std::size_t>(astrParts.back().data() - strPath.data()) - 1;
}

std::string HostName(std::string_view strName)
{
    return IsAscii(strName) ? std::string(strName) : CSystem::Get().CodePage().ToUtf8(strName);
}

std::string SystemName(std::string_view strHostName)
{
    return IsAscii(strHostName) ? std::string(strHostName)
                                : CSystem::Get().CodePage().FromUtf8(strHostName);
}

std::string HostPath(std::string_view strPath)
{
    std::string strHost;
    std::string_view strRest = strPath;
    if (!SplitRoot(strRest, strHost))
        return std::string();  // no such drive: a path nothing opens
    if (strHost.empty())
        strHost = ".";
    const std::size_t nRootLength = strHost.size();
    for (std::string_view strPart : Components(strRest)) {
        if (strPart.empty() || strPart == ".")
            continue;
        if (strPart == "..") {
            std::size_t nSlash = strHost.rfind('/');
            if (nSlash != std::string::npos && nSlash >= nRootLength)
                strHost.resize(nSlash);
            continue;
        }
        const std::string strName = HostName(strPart);
        std::string strExact = strHost + '/' + strName;
        struct stat info;
        if (lstat(strExact.c_str(), &info) == 0)
            strHost = std::move(strExact);
        else
            strHost += '/' + FindNameNoCase(strHost, strName);
    }
    return strHost;
}

std::string DirectPath(std::string_view strPath)
{
    std::string strHost;
    std::string_view strRest = strPath;
    if (!SplitRoot(strRest, strHost))
        return std::string();
    if (strHost.empty() && strRest.empty())
        return "./";
    bool bFirst = strHost.empty();
    for (std::string_view strPart : Components(strRest)) {
        if (strPart.empty())
            continue;
        if (!bFirst)
            strHost += '/';
        strHost += HostName(strPart);
        bFirst = false;
    }
    return strHost;
}
