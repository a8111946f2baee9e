// Hive look-ups over libhivex. Before libhivex opens a hive, the file is checked to
// hold all the bins its base block declares: libhivex reads bins up to the end of
// the file, so a hive cut at a bin's end would otherwise open with keys missing.
#include "platform/posix/hive_registry.h"

#include <hivex.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kDataSizeOffset = 0x28;  // in the base block: the bins' size

}  // namespace

CHive::~CHive()
{
    if (m_pHive != nullptr)
        hivex_close(m_pHive);
}

bool CHive::Open(const std::string& strPath, std::string& strError)
{
    struct stat info;
    if (stat(strPath.c_str(), &info) != 0) {
        strError = errno == ENOENT ? "the registry hive is missing" : std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        strError = "the registry hive is not a file";
        return false;
    }
    if (info.st_size == 0) {
        strError = "the registry hive is empty";
        return false;
    }
    unsigned char abyBase[kBaseBlockSize] = {};
    std::ifstream file(strPath, std::ios::binary);
    file.read(reinterpret_cast<char*>(abyBase), sizeof(abyBase));
    if (file.gcount() >= 4 && std::memcmp(abyBase, "regf", 4) != 0) {
        strError = "not a registry hive";
        return false;
    }
    const uint64_t nDataSize = abyBase[kDataSizeOffset] | abyBase[kDataSizeOffset + 1] << 8 |
                               abyBase[kDataSizeOffset + 2] << 16 |
                               static_cast<uint64_t>(abyBase[kDataSizeOffset + 3]) << 24;
    const uint64_t nDeclared = kBaseBlockSize + nDataSize;
    if (static_cast<uint64_t>(info.st_size) < nDeclared) {
        strError = "the registry hive is truncated (" + std::to_string(info.st_size) + " of " +
                   std::to_string(nDeclared) + " bytes)";
        return false;
    }
    errno = 0;
    m_pHive = hivex_open(strPath.c_str(), 0);
    if (m_pHive == nullptr) {
        const int nError = errno;
        strError = nError == ENOTSUP ? std::string("not a registry hive")
                                     : "libhivex cannot open the registry hive (" +
                                           std::string(std::strerror(nError)) + ")";
        return false;
    }
    return true;
}

CHive::Found CHive::FindValue(std::string_view strKey, std::string_view strValue,
                              REGVALUE& value) const
{
    if (m_pHive == nullptr)
        return kMissing;
    hive_node_h hNode = hivex_root(m_pHive);
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
