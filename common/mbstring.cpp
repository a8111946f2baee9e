// Lead-byte aware searches over ANSI text. A two-byte character can only be told
// from the start of the text, so every search walks forward, character by character;
// without lead bytes it is the plain search.
#include "common/mbstring.h"

#include "platform/platform.h"

namespace {

// Calls found(nPos) for each character start of strText from nFrom on, until it
// returns true; returns that position, or npos.
template <typename Found>
std::size_t WalkCharacters(std::string_view strText, std::size_t nFrom, Found found)
{
    const plat::LeadByteTable& leadBytes = plat::LeadBytes();
    for (std::size_t nPos = nFrom; nPos < strText.size();) {
        if (found(nPos))
            return nPos;
        const bool bTwoBytes =
            leadBytes.abLead[static_cast<unsigned char>(strText[nPos])] && nPos + 1 < strText.size();
        nPos += bTwoBytes ? 2 : 1;
    }
    return std::string_view::npos;
}

// The last character start whose byte matches, or npos.
template <typename Match>
std::size_t FindLast(std::string_view strText, Match match)
{
    std::size_t nLast = std::string_view::npos;
    WalkCharacters(strText, 0, [&](std::size_t nPos) {
        if (match(strText[nPos]))
            nLast = nPos;
        return false;
    });
    return nLast;
}

}  // namespace

std::size_t MbsFind(std::string_view strText, std::string_view strFind)
{
    if (!plat::LeadBytes().bAny)
        return strText.find(strFind);
    return WalkCharacters(strText, 0, [&](std::size_t nPos) {
        return strText.compare(nPos, strFind.size(), strFind) == 0;
    });
}

std::size_t MbsFindChar(std::string_view strText, char ch, std::size_t nFrom)
{
    if (!plat::LeadBytes().bAny)
        return strText.find(ch, nFrom);
    return WalkCharacters(strText, nFrom, [&](std::size_t nPos) { return strText[nPos] == ch; });
}

std::size_t MbsFindLastChar(std::string_view strText, char ch)
{
    if (!plat::LeadBytes().bAny)
        return strText.rfind(ch);
    return FindLast(strText, [&](char chAt) { return chAt == ch; });
}

std::size_t MbsFindLastSeparator(std::string_view strText)
{
    if (!plat::LeadBytes().bAny)
        return strText.find_last_of("\\/");
    return FindLast(strText, [](char chAt) { return chAt == '\\' || chAt == '/'; });
}
