// locale/: the system's locale, as Windows applies it: code pages (codepage),
// the calendars of short dates (calendar), Windows date pictures (date_picture)
// and time zones (time_zone): conversions alone; the system's settings that pick
// them are read by the system (system.cpp).
//
// Text between a system's ANSI code page and the UTF-16 of its registry and the
// UTF-8 of its file names, converted as Windows converts it: a character that has
// no form in the code page becomes "?". A single-byte code page converts by a table
// (each byte one character, each character at most one byte: nothing composed or
// held back), which iconv helps to build; a double-byte one with iconv; 65001 is
// UTF-8 as Windows reads and writes it.
#pragma once

#include <iconv.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

class CCodePage {
public:
    // A code page that is no system code page is taken as 1252, Windows' Western
    // code page.
    explicit CCodePage(uint32_t nCodePage);
    ~CCodePage();
    CCodePage(const CCodePage&) = delete;
    CCodePage& operator=(const CCodePage&) = delete;

    // The code page in use: the one asked for, or 1252.
    uint32_t Number() const { return m_nCodePage; }
    const plat::LeadByteTable& LeadBytes() const { return m_leadBytes; }

    // To the code page: each UTF-16 unit without a form becomes one "?"; each byte
    // of UTF-8 that is not UTF-8 becomes one "?".
    std::string FromUtf16(std::u16string_view strText) const;
    std::string FromUtf8(std::string_view strText) const;
    // From the code page: a byte sequence that is no character becomes "?".
    std::u16string ToUtf16(std::string_view strAnsi) const;
    std::string ToUtf8(std::string_view strAnsi) const;

private:
    void BuildTable();

    enum Kind { kSingleByte, kDoubleByte, kUtf8 };
    uint32_t m_nCodePage;
    Kind m_kind;
    plat::LeadByteTable m_leadBytes;
    // A single-byte code page: each byte's character, and each UTF-16 unit's byte
    // (-1 for none).
    std::array<char16_t, 256> m_awCharacters{};
    std::vector<int16_t> m_anBytes;
    // A double-byte code page: iconv's converters, and the characters Windows
    // writes otherwise (0 for "?").
    std::unordered_map<char16_t, uint16_t> m_windowsBytes;
    iconv_t m_hFromUtf16;
    iconv_t m_hToUtf16;
};

// The converter of a code page, made once and kept for the process: a reader made
// before its sandbox loads all of them (LoadSystemCodePages), as iconv loads its
// modules from files.
const CCodePage& SystemCodePage(uint32_t nCodePage);
void LoadSystemCodePages();

// The code pages Windows sets as a system's ANSI code page: 874, 932, 936, 949, 950,
// 1250 to 1258, and 65001.
bool IsSystemCodePage(uint32_t nCodePage);

// The lead bytes of a Windows code page (those CPINFO gives): the double-byte code
// pages 932, 936, 949, 950 and 1361 have them, all others none.
plat::LeadByteTable LeadBytesOf(uint32_t nCodePage);

// UTF-16 text from the bytes the registry stores it in (UTF-16LE); an odd last
// byte is left out.
std::u16string Utf16FromBytes(std::string_view strBytes);

// Text of this host's character set (an iconv name) in UTF-16; what is not of that
// character set becomes "?".
std::u16string HostTextToUtf16(std::string_view strText, const std::string& strCharset);

// UTF-8 and UTF-16 of each other (iconv); what is not UTF-8 or UTF-16 becomes "?".
std::u16string Utf8ToUtf16(std::string_view strText);
std::string Utf16ToUtf8(std::u16string_view strText);
