// Windows file-name wildcards and the order of a search, over UTF-16 names as Wine
// compares them.
#pragma once

#include <string_view>

// Windows long-name matching: "*" any run of characters, "?" exactly one, ASCII
// letters in any case; the pattern "*.*" matches every name.
bool MatchWildcard(std::u16string_view strPattern, std::u16string_view strName);

// Search order: names compared with ASCII letters upper-cased, as Wine sorts them.
bool NameLess(std::u16string_view strLeft, std::u16string_view strRight);
