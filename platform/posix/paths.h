// Windows paths of the system, in its code page, as places on its volumes: "X:\a\b"
// is the drive's root with "a/b" below it, each name in UTF-8; a relative path is a
// host path below the current directory.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/volumes/volume.h"

// The place of a Windows path, each component matched case-insensitively;
// components that do not exist are kept as written, so that a file can be created.
VOLUMEPATH ResolvePath(std::string_view strPath);

// The place of a Windows path taken as written: the drive mapped, "\" turned into
// "/", names converted, no look-ups.
VOLUMEPATH DirectPath(std::string_view strPath);

// The last separator ("\" or "/") of a path that is a character of its own, or npos.
std::size_t FindLastSeparator(std::string_view strPath);

// A name of the system's code page in UTF-8, and back.
std::string HostName(std::string_view strName);
std::string SystemName(std::string_view strHostName);
