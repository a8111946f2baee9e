// Reading a binary registry hive, as Windows keeps it under
// Windows\System32\config, with libhivex: read only, the hive as last written,
// from a host folder or a disk image alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/posix/registry/registry_value.h"
#include "platform/posix/volumes/volume.h"

struct hive_h;

class CHive {
public:
    CHive() = default;
    ~CHive();
    CHive(const CHive&) = delete;
    CHive& operator=(const CHive&) = delete;

    // Opens the hive file of a volume; false with strError saying why (missing,
    // empty, truncated, not a hive, or refused by libhivex).
    bool Open(const CVolume& volume, const std::string& strPath, std::string& strError);

    enum Found { kFound, kMissing, kDamaged };
    // A value below the hive's root: the key's parts joined by "\", names compared
    // without regard to case at every level; the empty name is the key's default.
    Found FindValue(std::string_view strKey, std::string_view strValue, REGVALUE& value) const;
    // A key below the hive's root, named as for FindValue.
    Found FindKey(std::string_view strKey) const;

private:
    Found FindKey(std::string_view strKey, std::size_t& hNode) const;  // hNode: a hive_node_h

    hive_h* m_pHive = nullptr;
};
