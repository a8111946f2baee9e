// Reading a Wine registry file (system.reg, user.reg): its text in, one value out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/registry/registry_value.h"

// Finds a value in the text of a Wine registry file. The key is given relative to
// the file's root with "\" between its parts; key and value names compare without
// regard to the case of ASCII letters; the empty value name is the key's default.
// A key on the way that Wine keeps as a link is followed to its target, as Windows
// follows it.
bool FindWineRegistryValue(std::string_view strFile, std::u16string_view strKey,
                           std::u16string_view strValue, REGVALUE& value);

// Whether the registry file is a 64-bit prefix's ("#arch=win64" in its header).
bool IsWin64Registry(std::string_view strFile);

// The case of ASCII letters aside, the same UTF-16 text.
bool EqualNoCase16(std::u16string_view strLeft, std::u16string_view strRight);
