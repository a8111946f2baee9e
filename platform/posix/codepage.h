// Text between a system's ANSI code page and the UTF-16 of its registry and the
// UTF-8 of its file names, converted as Windows converts it: a character that has
// no form in the code page becomes "?". The conversions use the C library's iconv.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

class CCodePage {
public:
    // A code page iconv does not know is taken as 1252, Windows' Western code page.
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
    uint32_t m_nCodePage;
    plat::LeadByteTable m_leadBytes;
    iconv_t m_hFromUtf16;
    iconv_t m_hToUtf16;
};

// The lead bytes of a Windows code page (those CPINFO gives): the double-byte code
// pages 932, 936, 949, 950 and 1361 have them, all others none.
plat::LeadByteTable LeadBytesOf(uint32_t nCodePage);

// UTF-16 text from the bytes the registry stores it in (UTF-16LE); an odd last
// byte is left out.
std::u16string Utf16FromBytes(std::string_view strBytes);

// UTF-8 and UTF-16 of each other (iconv); what is not UTF-8 or UTF-16 becomes "?".
std::u16string Utf8ToUtf16(std::string_view strText);
std::string Utf16ToUtf8(std::u16string_view strText);
