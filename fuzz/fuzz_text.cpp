// Fuzz target: the POSIX layer's text pieces on arbitrary bytes: the code-page
// conversions of every system code page, both ways, calendars and date pictures.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/locale/calendar.h"
#include "platform/posix/locale/codepage.h"
#include "platform/posix/locale/date_picture.h"

namespace {

const uint32_t kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                               1253, 1254, 1255, 1256, 1257, 1258, 65001};
constexpr std::size_t kCount = sizeof(kCodePages) / sizeof(kCodePages[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    if (nSize < 4)
        return 0;
    static const CCodePage* const* apCodePages = [] {
        static const CCodePage* apMade[kCount];
        for (std::size_t i = 0; i < kCount; ++i)
            apMade[i] = new CCodePage(kCodePages[i]);
        return apMade;
    }();
    const CCodePage& codePage = *apCodePages[pData[0] % kCount];
    // A character is at most two bytes, or three in UTF-8.
    const std::size_t nWidest = codePage.Number() == 65001 ? 3 : 2;
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
    // byte gives at most one character.
    if (codePage.FromUtf8(strBytes).size() > nWidest * strBytes.size())
        std::abort();
    const std::u16string strUnits(reinterpret_cast<const char16_t*>(strBytes.data()), strBytes.size() / 2);
    if (codePage.FromUtf16(strUnits).size() > nWidest * strUnits.size())
        std::abort();
    (void)Utf16ToUtf8(strUnits);

    // Bytes as a date picture, the date in a calendar: formatted or refused, never
    // more than the picture and the numbers and era it asks for.
    CALENDARDATE date;
    if (ToCalendar(pData[2] % 32, pData[3] % 5 - 2, nYear, nMonth, nDay, date)) {
        if (date.nMonth < 1 || date.nMonth > 13 || date.nDay < 1 || date.nDay > 31)
            std::abort();
        std::u16string strDate;
        if (FormatDatePicture(strWide, date.nYear, date.nMonth, date.nDay, strDate, date.strEra) &&
            strDate.size() > 5 * strWide.size())
            std::abort();
    }
    return 0;
}
