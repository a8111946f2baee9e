// Code-page conversions. Every conversion goes through UTF-16, as Windows' own do,
// so that a character without a form gives one "?" for each of its UTF-16 units, as
// WideCharToMultiByte gives them. Checked against Windows' own tables, made under
// Wine (tests/data/codepages.tsv).
#include "platform/posix/locale/codepage.h"

#include <memory>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace {

constexpr uint32_t kWesternCodePage = 1252;
constexpr uint32_t kUtf8CodePage = 65001;
constexpr char16_t kReplacement = 0xFFFD;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The bytes of single-byte code pages that glibc's iconv does not convert, as
// Windows reads them (measured under Wine): those it leaves undefined as
// private-use characters, and one Hebrew point glibc lacks. Any other byte iconv
// does not convert, from 0x80 to 0x9F, is the C1 control of the same value.
struct WINDOWSBYTES {
    uint32_t nCodePage;
    unsigned char byFirst, byLast;
    char16_t wFirst;
};
const WINDOWSBYTES kWindowsBytes[] = {
    {874, 0xDB, 0xDE, 0xF8C1},  {874, 0xFC, 0xFF, 0xF8C5},  {1253, 0xAA, 0xAA, 0xF8F9},
    {1253, 0xD2, 0xD2, 0xF8FA}, {1253, 0xFF, 0xFF, 0xF8FB}, {1255, 0xCA, 0xCA, 0x05BA},
    {1255, 0xD9, 0xDF, 0xF88D}, {1255, 0xFB, 0xFC, 0xF894}, {1255, 0xFF, 0xFF, 0xF896},
    {1257, 0xA1, 0xA1, 0xF8FC}, {1257, 0xA5, 0xA5, 0xF8FD},
};

// The iconv name of a Windows code page.
std::string IconvName(uint32_t nCodePage)
{
    return "CP" + std::to_string(nCodePage);
}

// Where Windows converts a double-byte code page otherwise than glibc's iconv
// (measured under Wine): single bytes glibc does not read, and characters glibc
// writes that Windows writes otherwise, or not at all (0: "?"). The user-defined
// areas, which Windows reads as private-use characters, are not among them.
struct WINDOWSCHARACTER {
    uint32_t nCodePage;
    char16_t wChar;
    uint16_t wBytes;
};
const WINDOWSCHARACTER kWindowsCharacters[] = {
    {932, 0x0080, 0x80},   {932, 0xF8F0, 0xA0},   {932, 0xF8F1, 0xFD},   {932, 0xF8F2, 0xFE},
    {932, 0xF8F3, 0xFF},   {932, 0x00A2, 0},      {932, 0x00A3, 0},      {932, 0x00A5, 0},
    {932, 0x00AC, 0},      {932, 0x2014, 0},      {932, 0x2016, 0},      {932, 0x203E, 0},
    {932, 0x2212, 0},      {932, 0x301C, 0},      {949, 0x0080, 0x80},   {949, 0xF8F7, 0xFF},
    {950, 0x2550, 0xF9F9}, {950, 0x255E, 0xF9E9}, {950, 0x2561, 0xF9EB}, {950, 0x256A, 0xF9EA},
};

// Converts nSize bytes at pInput with hConverter and appends the result to
// strOutput. An input sequence that does not convert is skipped by the length
// replace(pInput, nLeft, strOutput) gives, which appends what it reads as.
template <typename Replace>
void Convert(iconv_t hConverter, const char* pInput, std::size_t nSize, std::string& strOutput,
             Replace replace)
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
        const std::size_t nSkip = std::min(nLeft, replace(pIn, nLeft, strOutput));
        pIn += nSkip;
        nLeft -= nSkip;
    }
}

std::string_view AsBytes(std::u16string_view strText)
{
    return std::string_view(reinterpret_cast<const char*>(strText.data()), strText.size() * 2);
}

// A UTF-16 unit that does not convert gives one "?"; a surrogate pair two.
std::size_t ReplaceUtf16Unit(const char*, std::size_t, std::string& strOutput)
{
    strOutput += '?';
    return 2;
}

// A byte that is not UTF-8 gives one "?" (in UTF-16LE).
std::size_t ReplaceByte(const char*, std::size_t, std::string& strOutput)
{
    strOutput.append("?\0", 2);
    return 1;
}

// One character of a code page converted alone to UTF-16 with a fresh converter
// state, flushed after it; empty when iconv does not convert it.
std::u16string ConvertAlone(iconv_t hToUtf16, std::string_view strChar)
{
    if (hToUtf16 == kNoConverter)
        return {};
    char achIn[4];
    strChar.copy(achIn, sizeof(achIn));
    char* pIn = achIn;
    std::size_t nIn = std::min(strChar.size(), sizeof(achIn));
    char achOut[16];
    char* pOut = achOut;
    std::size_t nRoom = sizeof(achOut);
    iconv(hToUtf16, nullptr, nullptr, nullptr, nullptr);
    if (iconv(hToUtf16, &pIn, &nIn, &pOut, &nRoom) == static_cast<std::size_t>(-1) ||
        iconv(hToUtf16, nullptr, nullptr, &pOut, &nRoom) == static_cast<std::size_t>(-1))
        return {};
    return Utf16FromBytes(std::string_view(achOut, static_cast<std::size_t>(pOut - achOut)));
}

bool IsContinuation(unsigned char byByte)
{
    return (byByte & 0xC0) == 0x80;
}

// UTF-8 as Windows reads it in code page 65001 (measured under Wine): a byte that
// begins no sequence, and a sequence cut short, read as one U+FFFD; a whole
// sequence whose value is overlong, a surrogate or beyond U+10FFFF reads as one
// U+FFFD for its first two bytes, and its other bytes each as one more.
std::u16string WindowsUtf8ToUtf16(std::string_view strText)
{
    std::u16string strUnits;
    strUnits.reserve(strText.size());
    for (std::size_t nPos = 0; nPos < strText.size();) {
        const unsigned char byLead = static_cast<unsigned char>(strText[nPos]);
        const std::size_t nLength = byLead < 0x80 ? 1 : byLead < 0xC2 ? 0 : byLead < 0xE0 ? 2 : byLead < 0xF0 ? 3 : byLead < 0xF5 ? 4 : 0;
        if (nLength == 0) {
            strUnits += kReplacement;
            ++nPos;
            continue;
        }
        std::size_t nHave = 1;
        while (nHave < nLength && nPos + nHave < strText.size() &&
               IsContinuation(static_cast<unsigned char>(strText[nPos + nHave])))
            ++nHave;
        if (nHave < nLength) {
            strUnits += kReplacement;
            nPos += nHave;
            continue;
        }
        uint32_t nValue = nLength == 1 ? byLead : byLead & (0x7F >> nLength);
        for (std::size_t i = 1; i < nLength; ++i)
            nValue = nValue << 6 | (static_cast<unsigned char>(strText[nPos + i]) & 0x3F);
        static const uint32_t anSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (nValue < anSmallest[nLength] || (nValue >= 0xD800 && nValue < 0xE000) || nValue > 0x10FFFF) {
            strUnits += kReplacement;
            nPos += 2;
            continue;
        }
        if (nValue >= 0x10000) {
            strUnits += static_cast<char16_t>(0xD800 + ((nValue - 0x10000) >> 10));
            strUnits += static_cast<char16_t>(0xDC00 + ((nValue - 0x10000) & 0x3FF));
        } else {
            strUnits += static_cast<char16_t>(nValue);
        }
        nPos += nLength;
    }
    return strUnits;
}

// UTF-16 as Windows writes it in code page 65001: a surrogate without its other
// half becomes U+FFFD.
std::string Utf16ToWindowsUtf8(std::u16string_view strText)
{
    std::string strBytes;
    strBytes.reserve(strText.size() * 3);
    for (std::size_t i = 0; i < strText.size(); ++i) {
        uint32_t nValue = strText[i];
        if (nValue >= 0xD800 && nValue < 0xDC00 && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] < 0xE000) {
            nValue = 0x10000 + ((nValue - 0xD800) << 10) + (strText[++i] - 0xDC00);
        } else if (nValue >= 0xD800 && nValue < 0xE000) {
            nValue = kReplacement;
        }
        if (nValue < 0x80) {
            strBytes += static_cast<char>(nValue);
        } else if (nValue < 0x800) {
            strBytes += static_cast<char>(0xC0 | nValue >> 6);
            strBytes += static_cast<char>(0x80 | (nValue & 0x3F));
        } else if (nValue < 0x10000) {
            strBytes += static_cast<char>(0xE0 | nValue >> 12);
            strBytes += static_cast<char>(0x80 | (nValue >> 6 & 0x3F));
            strBytes += static_cast<char>(0x80 | (nValue & 0x3F));
        } else {
            strBytes += static_cast<char>(0xF0 | nValue >> 18);
            strBytes += static_cast<char>(0x80 | (nValue >> 12 & 0x3F));
            strBytes += static_cast<char>(0x80 | (nValue >> 6 & 0x3F));
            strBytes += static_cast<char>(0x80 | (nValue & 0x3F));
        }
    }
    return strBytes;
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

const CCodePage& SystemCodePage(uint32_t nCodePage)
{
    static std::unordered_map<uint32_t, std::unique_ptr<CCodePage>> codePages;
    if (!IsSystemCodePage(nCodePage))
        nCodePage = kWesternCodePage;
    std::unique_ptr<CCodePage>& pCodePage = codePages[nCodePage];
    if (!pCodePage)
        pCodePage = std::make_unique<CCodePage>(nCodePage);
    return *pCodePage;
}

void LoadSystemCodePages()
{
    for (uint32_t nCodePage : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u,
                               1258u, kUtf8CodePage})
        SystemCodePage(nCodePage);
}

bool IsSystemCodePage(uint32_t nCodePage)
{
    return nCodePage == 874 || nCodePage == 932 || nCodePage == 936 || nCodePage == 949 ||
           nCodePage == 950 || (nCodePage >= 1250 && nCodePage <= 1258) || nCodePage == kUtf8CodePage;
}

CCodePage::CCodePage(uint32_t nCodePage)
    : m_nCodePage(IsSystemCodePage(nCodePage) ? nCodePage : kWesternCodePage),
      m_hFromUtf16(kNoConverter),
      m_hToUtf16(kNoConverter)
{
    m_leadBytes = LeadBytesOf(m_nCodePage);
    if (m_nCodePage == kUtf8CodePage) {
        m_kind = kUtf8;
    } else if (m_leadBytes.bAny) {
        m_kind = kDoubleByte;
        const std::string strName = IconvName(m_nCodePage);
        m_hFromUtf16 = iconv_open(strName.c_str(), "UTF-16LE");
        m_hToUtf16 = iconv_open("UTF-16LE", strName.c_str());
        for (const WINDOWSCHARACTER& character : kWindowsCharacters)
            if (character.nCodePage == m_nCodePage)
                m_windowsBytes[character.wChar] = character.wBytes;
    } else {
        m_kind = kSingleByte;
        BuildTable();
    }
}

// Each byte converted alone, the converter flushed after it (glibc's CP1255 and
// CP1258 hold a letter back to compose it with a following mark); what iconv does
// not convert, as Windows reads it.
void CCodePage::BuildTable()
{
    const iconv_t hToUtf16 = iconv_open("UTF-16LE", IconvName(m_nCodePage).c_str());
    m_anBytes.assign(0x10000, -1);
    for (unsigned nByte = 0; nByte < 256; ++nByte) {
        const char chByte = static_cast<char>(nByte);
        const std::u16string strChar = ConvertAlone(hToUtf16, std::string_view(&chByte, 1));
        char16_t wChar = strChar.size() == 1 ? strChar[0] : static_cast<char16_t>(nByte);
        for (const WINDOWSBYTES& bytes : kWindowsBytes)
            if (bytes.nCodePage == m_nCodePage && nByte >= bytes.byFirst && nByte <= bytes.byLast)
                wChar = static_cast<char16_t>(bytes.wFirst + (nByte - bytes.byFirst));
        m_awCharacters[nByte] = wChar;
        m_anBytes[wChar] = static_cast<int16_t>(nByte);
    }
    if (hToUtf16 != kNoConverter)
        iconv_close(hToUtf16);
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
    if (m_kind == kSingleByte) {
        strAnsi.reserve(strText.size());
        for (char16_t wChar : strText) {
            const int16_t nByte = m_anBytes[wChar];
            strAnsi += nByte >= 0 ? static_cast<char>(nByte) : '?';
        }
    } else if (m_kind == kUtf8) {
        strAnsi = Utf16ToWindowsUtf8(strText);
    } else {
        // Runs of characters glibc writes as Windows does, between those it does not.
        std::size_t nStart = 0;
        for (std::size_t i = 0; i <= strText.size(); ++i) {
            const auto found = i < strText.size() ? m_windowsBytes.find(strText[i]) : m_windowsBytes.end();
            if (i < strText.size() && found == m_windowsBytes.end())
                continue;
            const std::string_view strBytes = AsBytes(strText.substr(nStart, i - nStart));
            Convert(m_hFromUtf16, strBytes.data(), strBytes.size(), strAnsi, ReplaceUtf16Unit);
            if (found != m_windowsBytes.end()) {
                const uint16_t wBytes = found->second;
                if (wBytes > 0xFF)
                    strAnsi += static_cast<char>(wBytes >> 8);
                strAnsi += wBytes == 0 ? '?' : static_cast<char>(wBytes & 0xFF);
            }
            nStart = i + 1;
        }
    }
    return strAnsi;
}

std::string CCodePage::FromUtf8(std::string_view strText) const
{
    return FromUtf16(Utf8ToUtf16(strText));
}

std::u16string CCodePage::ToUtf16(std::string_view strAnsi) const
{
    if (m_kind == kSingleByte) {
        std::u16string strText(strAnsi.size(), u'\0');
        for (std::size_t i = 0; i < strAnsi.size(); ++i)
            strText[i] = m_awCharacters[static_cast<unsigned char>(strAnsi[i])];
        return strText;
    }
    if (m_kind == kUtf8)
        return WindowsUtf8ToUtf16(strAnsi);
    // Character by character, as the lead bytes divide the text: glibc's converters
    // may pass over a byte after an invalid pair, which Windows reads.
    std::u16string strText;
    for (std::size_t nPos = 0; nPos < strAnsi.size();) {
        const unsigned char byFirst = static_cast<unsigned char>(strAnsi[nPos]);
        const std::size_t nLength = m_leadBytes.abLead[byFirst] && nPos + 1 < strAnsi.size() ? 2 : 1;
        const std::u16string strChar = ConvertAlone(m_hToUtf16, strAnsi.substr(nPos, nLength));
        if (!strChar.empty()) {
            strText += strChar;
        } else {
            char16_t wChar = u'?';
            for (const WINDOWSCHARACTER& character : kWindowsCharacters)
                if (nLength == 1 && character.nCodePage == m_nCodePage && character.wBytes == byFirst &&
                    byFirst != 0)
                    wChar = character.wChar;
            strText += wChar;
        }
        nPos += nLength;
    }
    return strText;
}

std::string CCodePage::ToUtf8(std::string_view strAnsi) const
{
    return Utf16ToUtf8(ToUtf16(strAnsi));
}

std::u16string HostTextToUtf16(std::string_view strText, const std::string& strCharset)
{
    const iconv_t hConverter = iconv_open("UTF-16LE", strCharset.c_str());
    if (hConverter == kNoConverter)
        return Utf8ToUtf16(strText);
    std::string strBytes;
    Convert(hConverter, strText.data(), strText.size(), strBytes, ReplaceByte);
    iconv_close(hConverter);
    return Utf16FromBytes(strBytes);
}

std::u16string Utf8ToUtf16(std::string_view strText)
{
    static const iconv_t hConverter = iconv_open("UTF-16LE", "UTF-8");
    std::string strBytes;
    Convert(hConverter, strText.data(), strText.size(), strBytes, ReplaceByte);
    return Utf16FromBytes(strBytes);
}

std::string Utf16ToUtf8(std::u16string_view strText)
{
    static const iconv_t hConverter = iconv_open("UTF-8", "UTF-16LE");
    std::string strUtf8;
    const std::string_view strBytes = AsBytes(strText);
    Convert(hConverter, strBytes.data(), strBytes.size(), strUtf8, ReplaceUtf16Unit);
    return strUtf8;
}
