// Searches in ANSI text that honour two-byte characters: the trail byte of a
// two-byte character of the system's code page is never taken for the character
// searched for. In a single-byte code page they are the plain searches.
#pragma once

#include <cstddef>
#include <string_view>

// The first occurrence of strFind at a character boundary, or npos.
std::size_t MbsFind(std::string_view strText, std::string_view strFind);
// The first character ch at or after nFrom (a character boundary), or npos.
std::size_t MbsFindChar(std::string_view strText, char ch, std::size_t nFrom = 0);
// The last character ch, or npos.
std::size_t MbsFindLastChar(std::string_view strText, char ch);
// The last path separator ("\" or "/"), or npos.
std::size_t MbsFindLastSeparator(std::string_view strText);
