// Windows paths of the system, in its code page, as paths of this host: "X:\a\b"
// is the drive's folder with "a/b" below it, each name in UTF-8.
#pragma once

#include <string>
#include <string_view>

// The host path of a Windows path, each component matched case-insensitively;
// components that do not exist are kept as written, so that a file can be created.
// A relative path stays relative to the current directory.
std::string HostPath(std::string_view strPath);

// The host path taken as written: the drive mapped, "\" turned into "/", names
// converted, no look-ups.
std::string DirectPath(std::string_view strPath);

// The last separator ("\" or "/") of a path that is a character of its own, or npos.
std::size_t FindLastSeparator(std::string_view strPath);

// Names that are the same but for the case of ASCII letters.
bool EqualNoCase(std::string_view strLeft, std::string_view strRight);

// The host path of a relative Windows path ("a\\b") below the host folder strRoot,
// each name found case-insensitively; a name that is not there is kept as written.
std::string FindNoCase(const std::string& strRoot, std::string_view strRelative);

// A name of the system's code page in UTF-8, and back.
std::string HostName(std::string_view strName);
std::string SystemName(std::string_view strHostName);
