// Lead-byte aware searches over ANSI text.
#include "location/mbstring.h"

#include "platform/platform.h"

namespace {

// The length in bytes of the character at nPos.
std::size_t CharLength(std::string_view strText, std::size_t nPos)
{
    return plat::IsLeadByte(static_cast<unsigned char>(strText[nPos])) && nPos + 1 < strText.size()
               ? 2
               : 1;
}

}  // namespace

std::size_t MbsFind(std::string_view strText, std::string_view strFind)
{
    for (std::size_t nPos = 0; nPos < strText.size(); nPos += CharLength(strText, nPos)) {
        if (strText.compare(nPos, strFind.size(), strFind) == 0)
            return nPos;
    }
    return std::string_view::npos;
}

std::size_t MbsFindChar(std::string_view strText, char ch, std::size_t nFrom)
{
    for (std::size_t nPos = nFrom; nPos < strText.size(); nPos += CharLength(strText, nPos)) {
        if (strText[nPos] == ch)
            return nPos;
    }
    return std::string_view::npos;
}

std::size_t MbsFindLastSeparator(std::string_view strText)
{
    std::size_t nLast = std::string_view::npos;
    for (std::size_t nPos = 0; nPos < strText.size(); nPos += CharLength(strText, nPos)) {
        if (strText[nPos] == '\\' || strText[nPos] == '/')
            nLast = nPos;
    }
    return nLast;
}
