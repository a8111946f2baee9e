// Path mapping. A path on a drive the system does not have maps to no volume, which
// nothing opens. A path is split at separators that are characters of their own (a
// trail byte 0x5C of a two-byte character is none), and each name converted from
// the code page to UTF-8; ASCII names are their own host names.
#include "platform/posix/paths.h"

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


// The volume and root folder a Windows path starts from, and the rest of the path:
// a drive letter maps to its root, a path from the root to drive C:'s; a relative
// path starts from the current directory of this host.
VOLUMEPATH SplitRoot(std::string_view& strPath)
{
    const CSystem& system = CSystem::Get();
    if (strPath.size() >= 2 && strPath[1] == ':' &&
        ((strPath[0] | 0x20) >= 'a' && (strPath[0] | 0x20) <= 'z')) {
        const char chDrive = strPath[0];
        strPath.remove_prefix(2);
        return system.Drive(chDrive);
    }
    if (!strPath.empty() && IsSeparator(strPath[0]))
        return system.Drive('C');
    return VOLUMEPATH{&HostVolume(), std::string()};
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

}  // namespace

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

VOLUMEPATH ResolvePath(std::string_view strPath)
{
    std::string_view strRest = strPath;
    VOLUMEPATH place = SplitRoot(strRest);
    if (place.pVolume == nullptr)
        return place;  // no such drive: a place nothing opens
    if (place.strPath.empty() && place.pVolume == &HostVolume())
        place.strPath = ".";
    const std::size_t nRootLength = place.strPath.size();
    for (std::string_view strPart : Components(strRest)) {
        if (strPart.empty() || strPart == ".")
            continue;
        if (strPart == "..") {
            const std::size_t nSlash = place.strPath.rfind('/');
            if (nSlash != std::string::npos && nSlash >= nRootLength)
                place.strPath.resize(nSlash);
            continue;
        }
        place.strPath = FindNoCase(*place.pVolume, place.strPath, HostName(strPart));
    }
    return place;
}

VOLUMEPATH DirectPath(std::string_view strPath)
{
    std::string_view strRest = strPath;
    VOLUMEPATH place = SplitRoot(strRest);
    if (place.pVolume == nullptr)
        return place;
    if (place.strPath.empty() && place.pVolume == &HostVolume()) {
        if (strRest.empty()) {
            place.strPath = "./";
            return place;
        }
        bool bFirst = true;
        for (std::string_view strPart : Components(strRest)) {
            if (strPart.empty())
                continue;
            if (!bFirst)
                place.strPath += '/';
            place.strPath += HostName(strPart);
            bFirst = false;
        }
        return place;
    }
    for (std::string_view strPart : Components(strRest))
        if (!strPart.empty())
            place.strPath += '/' + HostName(strPart);
    return place;
}
