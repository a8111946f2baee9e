// Fuzz target: the POSIX layer's text pieces on arbitrary bytes: the code-page
// conversions of each supported code page, and date pictures.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/date_picture.h"

namespace {

const uint32_t kCodePages[] = {1252, 1251, 932, 936, 949, 950};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    if (nSize < 4)
        return 0;
    static const CCodePage* apCodePages[] = {
        new CCodePage(kCodePages[0]), new CCodePage(kCodePages[1]), new CCodePage(kCodePages[2]),
        new CCodePage(kCodePages[3]), new CCodePage(kCodePages[4]), new CCodePage(kCodePages[5]),
    };
    const CCodePage& codePage = *apCodePages[pData[0] % 6];
    const int nYear = 1601 + (pData[1] | pData[2] << 8) % 29000;
    const int nMonth = 1 + pData[3] % 12;
    const int nDay = 1 + pData[1] % 28;
    const std::string_view strBytes(reinterpret_cast<const char*>(pData) + 4, nSize - 4);

    // Bytes as ANSI text: to UTF-16 and back gives text of the same characters, so a
    // second round trip changes nothing more.
    const std::u16string strWide = codePage.ToUtf16(strBytes);
    const std::string strAnsi = codePage.FromUtf16(strWide);
    if (codePage.FromUtf16(codePage.ToUtf16(strAnsi)) != strAnsi)
        std::abort();
    // Bytes as UTF-8 (a name on disk) and as UTF-16 (a registry string): each unit or
    // byte gives at most one character of at most two bytes.
    if (codePage.FromUtf8(strBytes).size() > 2 * strBytes.size())
        std::abort();
    const std::u16string strUnits(reinterpret_cast<const char16_t*>(strBytes.data()), strBytes.size() / 2);
    if (codePage.FromUtf16(strUnits).size() > 2 * strUnits.size())
        std::abort();
    (void)Utf16ToUtf8(strUnits);

    // Bytes as a date picture: formatted or refused, never more than the picture and
    // the numbers it asks for.
    std::u16string strDate;
    if (FormatDatePicture(strWide, nYear, nMonth, nDay, strDate) && strDate.size() > 5 * strWide.size())
        std::abort();
    return 0;
}
