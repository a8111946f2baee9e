// Private to the POSIX platform layer: the pieces that read a Wine prefix as the
// local Windows machine, kept apart so that tests and fuzzers can reach them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace posix {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;

// Finds a value in the text of a Wine registry file (system.reg). Key and value
// names compare case-insensitively; the key is given relative to the file's root
// with "\" between its parts. On success strData holds the value's bytes as
// RegQueryValueExA returns them: strings in the ANSI code page with their
// terminating zero, other types as stored.
bool FindRegistryValue(std::string_view strFile, std::string_view strKey,
                       std::string_view strValue, std::string& strData, uint32_t& dwType);

// Windows long-name matching: "*" any run of characters, "?" exactly one, letters
// in any case; the pattern "*.*" matches every name.
bool MatchWildcard(std::string_view strPattern, std::string_view strName);

// Search order: names compared with ASCII letters upper-cased, as Wine sorts them.
bool NameLess(std::string_view strLeft, std::string_view strRight);

}  // namespace posix
