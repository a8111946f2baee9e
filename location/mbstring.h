// Searches in ANSI text that honour two-byte characters: the trail byte of a
// two-byte character is never taken for the character searched for.
#pragma once

#include <cstddef>
#include <string_view>

// The first occurrence of strFind at a character boundary, or npos.
std::size_t MbsFind(std::string_view strText, std::string_view strFind);
// The first character ch at or after nFrom (a character boundary), or npos.
std::size_t MbsFindChar(std::string_view strText, char ch, std::size_t nFrom = 0);
// The last path separator ("\" or "/"), or npos.
std::size_t MbsFindLastSeparator(std::string_view strText);
