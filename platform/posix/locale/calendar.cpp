// Windows' calendars by their definitions: fixed day numbers (day 1 is 1 January of
// the year 1, proleptic Gregorian) to each calendar's year, month and day. The
// Hebrew and tabular Hijri arithmetic follows Dershowitz and Reingold's
// "Calendrical Calculations"; the Persian one is the 33-year arithmetic ICU uses;
// Um Al-Qura is the official table of month lengths Windows supports (1318 to 1500
// AH), as ICU keeps it. Checked against ICU and published dates
// (tests/data/calendars.tsv).
#include "platform/posix/locale/calendar.h"

#include <iterator>

namespace {

constexpr long long FloorDiv(long long nValue, long long nDivisor)
{
    return nValue / nDivisor - (nValue % nDivisor != 0 && (nValue < 0) != (nDivisor < 0));
}

constexpr bool IsGregorianLeap(long long nYear)
{
    return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
}

constexpr long long FixedFromGregorian(long long nYear, int nMonth, int nDay)
{
    const long long nPrior = nYear - 1;
    return 365 * nPrior + FloorDiv(nPrior, 4) - FloorDiv(nPrior, 100) + FloorDiv(nPrior, 400) +
           FloorDiv(367 * nMonth - 362, 12) + (nMonth <= 2 ? 0 : IsGregorianLeap(nYear) ? -1 : -2) + nDay;
}

// --- Japanese eras, as Windows keeps them (HKLM Nls\Calendars\Japanese\Eras) ---

struct ERA {
    int nYear, nMonth, nDay;
    const char16_t* szName;
};
const ERA kEras[] = {
    {1868, 9, 8, u"\u660e\u6cbb"},   // Meiji (Windows' Japanese calendar begins here)
    {1912, 7, 30, u"\u5927\u6b63"},  // Taisho
    {1926, 12, 25, u"\u662d\u548c"}, // Showa
    {1989, 1, 8, u"\u5e73\u6210"},   // Heisei
    {2019, 5, 1, u"\u4ee4\u548c"},   // Reiwa
};

// --- Tabular Hijri: the Kuwaiti algorithm Windows uses, from the astronomical epoch
// (Thursday 15 July 622, Julian), leap years 2, 5, 7, 10, 13, 16, 18, 21, 24, 26 and
// 29 of each 30.

constexpr long long kHijriEpoch = 227014;

long long FixedFromHijri(long long nYear, int nMonth, int nDay)
{
    return nDay + 29 * (nMonth - 1) + FloorDiv(6 * nMonth - 1, 11) + (nYear - 1) * 354 +
           FloorDiv(3 + 11 * nYear, 30) + kHijriEpoch - 1;
}

void HijriFromFixed(long long nFixed, CALENDARDATE& date)
{
    const long long nYear = FloorDiv(30 * (nFixed - kHijriEpoch) + 10646, 10631);
    const long long nPrior = nFixed - FixedFromHijri(nYear, 1, 1);
    const int nMonth = static_cast<int>(FloorDiv(11 * nPrior + 330, 325));
    date.nYear = static_cast<int>(nYear);
    date.nMonth = nMonth;
    date.nDay = static_cast<int>(nFixed - FixedFromHijri(nYear, nMonth, 1) + 1);
}

// --- Persian: ICU's arithmetic, 8 leap years in each 33 ---

constexpr long long kPersianEpoch = 226896;  // 1 Farvardin 1, fixed
const int kPersianMonthStarts[] = {0, 31, 62, 93, 124, 155, 186, 216, 246, 276, 306, 336};

void PersianFromFixed(long long nFixed, CALENDARDATE& date)
{
    const long long nDays = nFixed - kPersianEpoch + 1;
    const long long nYear = 1 + FloorDiv(33 * nDays + 3, 12053);
    const long long nDayOfYear = nDays - (365 * (nYear - 1) + FloorDiv(8 * nYear + 21, 33));
    const int nMonth = static_cast<int>(nDayOfYear < 216 ? nDayOfYear / 31 : (nDayOfYear - 6) / 30);
    date.nYear = static_cast<int>(nYear);
    date.nMonth = nMonth + 1;
    date.nDay = static_cast<int>(nDayOfYear - kPersianMonthStarts[nMonth] + 1);
}

// --- Hebrew: months numbered from Nisan (1) as the arithmetic counts them, Tishri
// the 7th, Adar II the 13th of a leap year.

constexpr long long kHebrewEpoch = -1373427;  // 1 Tishri 1 AM, fixed

bool IsHebrewLeap(long long nYear)
{
    return ((7 * nYear + 1) % 19 + 19) % 19 < 7;
}

long long HebrewElapsedDays(long long nYear)
{
    const long long nMonths = FloorDiv(235 * nYear - 234, 19);
    const long long nParts = 12084 + 13753 * nMonths;
    const long long nDay = 29 * nMonths + FloorDiv(nParts, 25920);
    return ((3 * (nDay + 1)) % 7 + 7) % 7 < 3 ? nDay + 1 : nDay;
}

long long HebrewNewYear(long long nYear)
{
    const long long nBefore = HebrewElapsedDays(nYear - 1), nThis = HebrewElapsedDays(nYear),
                    nAfter = HebrewElapsedDays(nYear + 1);
    const long long nDelay = nAfter - nThis == 356 ? 2 : nThis - nBefore == 382 ? 1 : 0;
    return kHebrewEpoch + nThis + nDelay;
}

int HebrewMonthLength(int nMonth, long long nYear)
{
    const long long nYearLength = HebrewNewYear(nYear + 1) - HebrewNewYear(nYear);
    if (nMonth == 2 || nMonth == 4 || nMonth == 6 || nMonth == 10 || nMonth == 13 ||
        (nMonth == 12 && !IsHebrewLeap(nYear)) || (nMonth == 8 && nYearLength % 10 != 5) ||
        (nMonth == 9 && nYearLength % 10 == 3))
        return 29;
    return 30;
}

long long FixedFromHebrew(long long nYear, int nMonth, int nDay)
{
    const int nLastMonth = IsHebrewLeap(nYear) ? 13 : 12;
    long long nFixed = HebrewNewYear(nYear) + nDay - 1;
    if (nMonth < 7) {
        for (int m = 7; m <= nLastMonth; ++m)
            nFixed += HebrewMonthLength(m, nYear);
        for (int m = 1; m < nMonth; ++m)
            nFixed += HebrewMonthLength(m, nYear);
    } else {
        for (int m = 7; m < nMonth; ++m)
            nFixed += HebrewMonthLength(m, nYear);
    }
    return nFixed;
}

void HebrewFromFixed(long long nFixed, CALENDARDATE& date)
{
    long long nYear = FloorDiv((nFixed - kHebrewEpoch) * 98496, 35975351);
    while (HebrewNewYear(nYear + 1) <= nFixed)
        ++nYear;
    const bool bLeap = IsHebrewLeap(nYear);
    int nMonth = nFixed < FixedFromHebrew(nYear, 1, 1) ? 7 : 1;
    while (nFixed > FixedFromHebrew(nYear, nMonth, HebrewMonthLength(nMonth, nYear)))
        nMonth = nMonth == (bLeap ? 13 : 12) ? 1 : nMonth + 1;
    date.nYear = static_cast<int>(nYear);
    date.nDay = static_cast<int>(nFixed - FixedFromHebrew(nYear, nMonth, 1) + 1);
    // Windows counts the months from Tishri.
    date.nMonth = nMonth >= 7 ? nMonth - 6 : nMonth + (bLeap ? 7 : 6);
}

// --- Um Al-Qura: for each year from 1318 AH, its months of 30 days as bits (the
// first month the lowest).

constexpr int kUmAlQuraFirstYear = 1318;
constexpr long long kUmAlQuraStart = FixedFromGregorian(1900, 4, 30);  // 1 Muharram 1318
const unsigned short kUmAlQuraMonths[] = {
    0x56D, 0xB5A, 0x752, 0xF25, 0xE8A, 0xD16, 0xA56, 0xAB5, 0x6B4, 0xDA9, 0xB92, 0xB25,
    0x64B, 0xA9B, 0x35A, 0x6D9, 0x5D4, 0xDA5, 0xD4A, 0xA95, 0x536, 0x975, 0x2F4, 0x6E9,
    0x6D4, 0x6A9, 0x535, 0x25D, 0x4BD, 0x9BA, 0x3B4, 0xB69, 0xB2A, 0xA55, 0x4AD, 0xA5D,
    0x2DA, 0x6D9, 0xEAA, 0xE94, 0xD2A, 0xC56, 0x4AE, 0xA6D, 0x56A, 0xD55, 0xD4A, 0xA93,
    0x52B, 0xA5B, 0x53A, 0x6B5, 0xEA9, 0xD52, 0xD29, 0xA55, 0x4AD, 0x56D, 0xAEA, 0x6E4,
    0xED1, 0xDA2, 0xAAA, 0x95A, 0x2DA, 0x5B9, 0xBB2, 0x764, 0x6C9, 0x555, 0x2AB, 0x4DB,
    0xABA, 0x5B4, 0xDA9, 0xD52, 0xAA5, 0x92D, 0x26D, 0x8ED, 0x2DA, 0xAD5, 0xAA5, 0xA4B,
    0x497, 0x937, 0x2B6, 0x975, 0xD69, 0xD52, 0xC95, 0x92B, 0x25B, 0x4DB, 0x9D5, 0x5D2,
    0xDA5, 0xD4A, 0xA95, 0x54D, 0xAAD, 0x3AA, 0xBD2, 0xBC4, 0xB89, 0xA95, 0x52D, 0x5AD,
    0xB6A, 0x6D4, 0xDC9, 0xD92, 0xAA6, 0x956, 0x2AE, 0x56D, 0x36A, 0xB55, 0xAAA, 0x94D,
    0x49D, 0x95D, 0x2BA, 0x5B5, 0x5AA, 0xD55, 0xA9A, 0x92E, 0x26E, 0x55D, 0xADA, 0x6D4,
    0x6A5, 0xB27, 0xA4D, 0x4AD, 0x56D, 0xB5A, 0x754, 0xF49, 0xE92, 0xD26, 0xA56, 0x356,
    0x6B5, 0xBAA, 0xB92, 0xB25, 0x68B, 0xA9B, 0x55A, 0xADA, 0x5B4, 0xDA9, 0xB52, 0xA9A,
    0x536, 0x276, 0x575, 0xAF2, 0x6D4, 0x6A9, 0x555, 0x2AD, 0x4BD, 0x9BA, 0x574, 0xB69,
    0xB52, 0xA95, 0x52D, 0xA5D, 0x4DA, 0xAD9, 0x6B2, 0xE95, 0xE2A, 0xC96, 0x92E, 0xAAD,
    0x56A, 0xD65, 0xD4A,
};

bool UmAlQuraFromFixed(long long nFixed, CALENDARDATE& date)
{
    long long nDay = nFixed - kUmAlQuraStart;
    if (nDay < 0)
        return false;
    for (std::size_t nYear = 0; nYear < std::size(kUmAlQuraMonths); ++nYear)
        for (int nMonth = 0; nMonth < 12; ++nMonth) {
            const int nLength = kUmAlQuraMonths[nYear] >> nMonth & 1 ? 30 : 29;
            if (nDay < nLength) {
                date.nYear = kUmAlQuraFirstYear + static_cast<int>(nYear);
                date.nMonth = nMonth + 1;
                date.nDay = static_cast<int>(nDay) + 1;
                return true;
            }
            nDay -= nLength;
        }
    return false;
}

}  // namespace

bool ToCalendar(int nCalendar, int nHijriAdjustment, int nYear, int nMonth, int nDay, CALENDARDATE& date)
{
    date = CALENDARDATE{nYear, nMonth, nDay, {}};
    const long long nFixed = FixedFromGregorian(nYear, nMonth, nDay);
    switch (nCalendar) {
    case kCalendarJapanese:
        for (auto pEra = std::rbegin(kEras); pEra != std::rend(kEras); ++pEra)
            if (nFixed >= FixedFromGregorian(pEra->nYear, pEra->nMonth, pEra->nDay)) {
                date.nYear = nYear - pEra->nYear + 1;
                date.strEra = pEra->szName;
                return true;
            }
        return false;
    case kCalendarTaiwan:
        date.nYear = nYear - 1911;
        return nYear >= 1912;
    case kCalendarKorean:
        date.nYear = nYear + 2333;
        return true;
    case kCalendarThai:
        date.nYear = nYear + 543;
        return true;
    case kCalendarHijri:
        HijriFromFixed(nFixed + nHijriAdjustment, date);
        return true;
    case kCalendarHebrew:
        // Windows' Hebrew calendar spans 5343 to 5999 AM.
        if (nFixed < FixedFromGregorian(1583, 1, 1) || nFixed > FixedFromGregorian(2239, 9, 29))
            return false;
        HebrewFromFixed(nFixed, date);
        return true;
    case kCalendarPersian:
        PersianFromFixed(nFixed, date);
        return true;
    case kCalendarUmAlQura:
        return UmAlQuraFromFixed(nFixed, date);
    default:
        return true;  // the Gregorian calendar and its localized forms
    }
}

int HijriAdjustment(const std::u16string& strSetting)
{
    const std::u16string strName = u"AddHijriDate";
    if (strSetting.compare(0, strName.size(), strName) != 0)
        return 0;
    const std::u16string strRest = strSetting.substr(strName.size());
    if (strRest.empty())
        return -1;
    if (strRest.size() == 2 && (strRest[0] == u'+' || strRest[0] == u'-') && strRest[1] >= u'0' &&
        strRest[1] <= u'2')
        return (strRest[0] == u'-' ? -1 : 1) * (strRest[1] - u'0');
    return 0;
}
