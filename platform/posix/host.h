// What the POSIX layer keeps of this host rather than of the system it reads: the
// C library's locale and converters, loaded before a reader confines itself, and
// whether reading was refused a folder or file.
#pragma once

namespace plat {

// Loads what the host's C library would otherwise load from files on first use:
// the date locale, the host's character set and szPattern converted by it (when
// not null), and every system code page's converter.
void WarmHostLocale(const char* szPattern);

// Whether a folder or file of the system was refused, or was no file to read, and
// so said on standard error.
bool AnyUnread();

}  // namespace plat
