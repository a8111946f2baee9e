// Hive look-ups over libhivex. Before libhivex opens a hive, the file is checked to
// hold all the bins its base block declares: libhivex reads bins up to the end of
// the file, so a hive cut at a bin's end would otherwise open with keys missing.
#include "platform/posix/registry/hive_registry.h"

#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kDataSizeOffset = 0x28;  // in the base block: the bins' size

// A hive's offsets are 32-bit: a larger file is no hive libhivex should map, and
// is never copied out of an image.
constexpr uint64_t kMaxHiveSize = uint64_t{1} << 31;

// Why the hive file of a descriptor cannot be opened, or empty when it can.
std::string Check(int nFd)
{
    struct stat info;
    if (fstat(nFd, &info) != 0)
        return std::strerror(errno);
    if (info.st_size == 0)
        return "the registry hive is empty";
    if (static_cast<uint64_t>(info.st_size) > kMaxHiveSize)
        return "the registry hive is " + TooLarge(kMaxHiveSize);
    unsigned char abyBase[kBaseBlockSize] = {};
    const ssize_t nRead = pread(nFd, abyBase, sizeof(abyBase), 0);
    if (nRead >= 4 && std::memcmp(abyBase, "regf", 4) != 0)
        return "not a registry hive";
    const uint64_t nDataSize = abyBase[kDataSizeOffset] | abyBase[kDataSizeOffset + 1] << 8 |
                               abyBase[kDataSizeOffset + 2] << 16 |
                               static_cast<uint64_t>(abyBase[kDataSizeOffset + 3]) << 24;
    const uint64_t nDeclared = kBaseBlockSize + nDataSize;
    if (static_cast<uint64_t>(info.st_size) < nDeclared)
        return "the registry hive is truncated (" + std::to_string(info.st_size) + " of " +
               std::to_string(nDeclared) + " bytes)";
    return std::string();
}

}  // namespace

CHive::~CHive()
{
    if (m_pHive != nullptr)
        hivex_close(m_pHive);
}

bool CHive::Open(const CVolume& volume, const std::string& strPath, std::string& strError)
{
    const int nFd = volume.OpenDescriptor(strPath, kMaxHiveSize, strError);
    if (nFd < 0) {
        strError = "the registry hive is " + strError;
        return false;
    }
    strError = Check(nFd);
    if (strError.empty()) {
        // libhivex opens files by name: the descriptor's own name, so that a copy in
        // memory needs no file on disk.
        errno = 0;
        m_pHive = hivex_open(("/proc/self/fd/" + std::to_string(nFd)).c_str(), 0);
        const int nError = errno;
        if (m_pHive == nullptr)
            strError = nError == ENOTSUP ? std::string("not a registry hive")
                                         : "libhivex cannot open the registry hive (" +
                                               std::string(std::strerror(nError)) + ")";
    }
    close(nFd);
    return strError.empty();
}

CHive::Found CHive::FindKey(std::string_view strKey, std::size_t& hNode) const
{
    if (m_pHive == nullptr)
        return kMissing;
    hNode = hivex_root(m_pHive);
    if (hNode == 0)
        return kDamaged;
    std::size_t nStart = 0;
    while (nStart <= strKey.size()) {
        std::size_t nEnd = strKey.find('\\', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strKey.size();
        const std::string strPart(strKey.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (strPart.empty())
            continue;
        errno = 0;
        hNode = hivex_node_get_child(m_pHive, hNode, strPart.c_str());
        if (hNode == 0)
            return errno == 0 ? kMissing : kDamaged;
    }
    return kFound;
}

CHive::Found CHive::FindKey(std::string_view strKey) const
{
    hive_node_h hNode;
    return FindKey(strKey, hNode);
}

CHive::Found CHive::FindValue(std::string_view strKey, std::string_view strValue,
                              REGVALUE& value) const
{
    hive_node_h hNode;
    const Found found = FindKey(strKey, hNode);
    if (found != kFound)
        return found;
    errno = 0;
    const hive_value_h hValue = hivex_node_get_value(m_pHive, hNode, std::string(strValue).c_str());
    if (hValue == 0)
        return errno == 0 ? kMissing : kDamaged;
    hive_type type;
    std::size_t nLength = 0;
    char* pData = hivex_value_value(m_pHive, hValue, &type, &nLength);
    if (pData == nullptr)
        return kDamaged;
    // The type as stored, any 32-bit number: read as bytes, not as the enumeration.
    static_assert(sizeof(type) == sizeof(value.dwType), "a hive type is 32 bits");
    std::memcpy(&value.dwType, &type, sizeof(value.dwType));
    value.strBytes.assign(pData, nLength);
    std::free(pData);
    return kFound;
}
