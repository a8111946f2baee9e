// Code-page conversions over iconv. Every conversion goes through UTF-16, as
// Windows' own do, so that a character without a form gives one "?" for each of its
// UTF-16 units, as WideCharToMultiByte gives them.
#include "platform/posix/codepage.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace {

constexpr uint32_t kWesternCodePage = 1252;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The iconv name of a Windows code page.
std::string IconvName(uint32_t nCodePage)
{
    return nCodePage == 65001 ? "UTF-8" : "CP" + std::to_string(nCodePage);
}

// Converts nSize bytes at pInput with hConverter and appends the result to
// strOutput. An input sequence that does not convert is skipped by the length
// nextLength(pInput, nLeft) gives, and strReplacement appended for it.
template <typename NextLength>
void Convert(iconv_t hConverter, const char* pInput, std::size_t nSize, std::string& strOutput,
             std::string_view strReplacement, NextLength nextLength)
{
    iconv(hConverter, nullptr, nullptr, nullptr, nullptr);
    char achBuffer[1024];
    char* pIn = const_cast<char*>(pInput);
    std::size_t nLeft = nSize;
    while (nLeft > 0) {
        char* pOut = achBuffer;
        std::size_t nRoom = sizeof(achBuffer);
        const std::size_t nResult = iconv(hConverter, &pIn, &nLeft, &pOut, &nRoom);
        const int nError = errno;
        strOutput.append(achBuffer, static_cast<std::size_t>(pOut - achBuffer));
        if (nResult != static_cast<std::size_t>(-1) || nError == E2BIG)
            continue;
        // EILSEQ or EINVAL: a sequence that is no character, or is cut off at the end.
        const std::size_t nSkip = std::min(nLeft, nextLength(pIn, nLeft));
        strOutput += strReplacement;
        pIn += nSkip;
        nLeft -= nSkip;
    }
}

std::string_view AsBytes(std::u16string_view strText)
{
    return std::string_view(reinterpret_cast<const char*>(strText.data()), strText.size() * 2);
}

// A UTF-16 unit that does not convert gives one "?"; a surrogate pair two.
std::size_t NextUtf16Unit(const char*, std::size_t)
{
    return 2;
}

std::size_t NextByte(const char*, std::size_t)
{
    return 1;
}

}  // namespace

std::u16string Utf16FromBytes(std::string_view strBytes)
{
    std::u16string strText(strBytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < strText.size(); ++i)
        strText[i] = static_cast<char16_t>(static_cast<unsigned char>(strBytes[2 * i]) |
                                           static_cast<unsigned char>(strBytes[2 * i + 1]) << 8);
    return strText;
}

plat::LeadByteTable LeadBytesOf(uint32_t nCodePage)
{
    struct Range {
        unsigned char byFirst, byLast;
    };
    static const Range aJapanese[] = {{0x81, 0x9F}, {0xE0, 0xFC}};
    static const Range aChineseKorean[] = {{0x81, 0xFE}};
    static const Range aJohab[] = {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}};
    const Range* pFirst = nullptr;
    const Range* pEnd = nullptr;
    switch (nCodePage) {
    case 932: pFirst = std::begin(aJapanese); pEnd = std::end(aJapanese); break;
    case 936:
    case 949:
    case 950: pFirst = std::begin(aChineseKorean); pEnd = std::end(aChineseKorean); break;
    case 1361: pFirst = std::begin(aJohab); pEnd = std::end(aJohab); break;
    default: break;
    }
    plat::LeadByteTable table{};
    for (const Range* pRange = pFirst; pRange != pEnd; ++pRange)
        for (unsigned nByte = pRange->byFirst; nByte <= pRange->byLast; ++nByte)
            table.abLead[nByte] = true;
    table.bAny = pFirst != pEnd;
    return table;
}

CCodePage::CCodePage(uint32_t nCodePage) : m_nCodePage(nCodePage)
{
    std::string strName = IconvName(nCodePage);
    m_hFromUtf16 = iconv_open(strName.c_str(), "UTF-16LE");
    m_hToUtf16 = iconv_open("UTF-16LE", strName.c_str());
    if (m_hFromUtf16 == kNoConverter || m_hToUtf16 == kNoConverter) {
        if (m_hFromUtf16 != kNoConverter)
            iconv_close(m_hFromUtf16);
        if (m_hToUtf16 != kNoConverter)
            iconv_close(m_hToUtf16);
        m_nCodePage = kWesternCodePage;
        strName = IconvName(m_nCodePage);
        m_hFromUtf16 = iconv_open(strName.c_str(), "UTF-16LE");
        m_hToUtf16 = iconv_open("UTF-16LE", strName.c_str());
    }
    m_leadBytes = LeadBytesOf(m_nCodePage);
}

CCodePage::~CCodePage()
{
    if (m_hFromUtf16 != kNoConverter)
        iconv_close(m_hFromUtf16);
    if (m_hToUtf16 != kNoConverter)
        iconv_close(m_hToUtf16);
}

std::string CCodePage::FromUtf16(std::u16string_view strText) const
{
    std::string strAnsi;
    const std::string_view strBytes = AsBytes(strText);
    Convert(m_hFromUtf16, strBytes.data(), strBytes.size(), strAnsi, "?", NextUtf16Unit);
    return strAnsi;
}

std::string CCodePage::FromUtf8(std::string_view strText) const
{
    return FromUtf16(Utf8ToUtf16(strText));
}

std::u16string CCodePage::ToUtf16(std::string_view strAnsi) const
{
    std::string strBytes;
    const plat::LeadByteTable& leadBytes = m_leadBytes;
    Convert(m_hToUtf16, strAnsi.data(), strAnsi.size(), strBytes, std::string_view("?\0", 2),
            [&leadBytes](const char* p, std::size_t nLeft) -> std::size_t {
                return leadBytes.abLead[static_cast<unsigned char>(*p)] && nLeft > 1 ? 2 : 1;
            });
    return Utf16FromBytes(strBytes);
}

std::string CCodePage::ToUtf8(std::string_view strAnsi) const
{
    return Utf16ToUtf8(ToUtf16(strAnsi));
}

std::u16string Utf8ToUtf16(std::string_view strText)
{
    static const iconv_t hConverter = iconv_open("UTF-16LE", "UTF-8");
    std::string strBytes;
    Convert(hConverter, strText.data(), strText.size(), strBytes, std::string_view("?\0", 2), NextByte);
    return Utf16FromBytes(strBytes);
}

std::string Utf16ToUtf8(std::u16string_view strText)
{
    static const iconv_t hConverter = iconv_open("UTF-8", "UTF-16LE");
    std::string strUtf8;
    const std::string_view strBytes = AsBytes(strText);
    Convert(hConverter, strBytes.data(), strBytes.size(), strUtf8, "?", NextUtf16Unit);
    return strUtf8;
}
