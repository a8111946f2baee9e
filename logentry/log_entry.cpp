// The log line parser: splits one line into its 33 columns and stores each in its
// member, with the rules that carry state from line to line within one file.
#include "logentry/log_entry.h"

#include <climits>

namespace {

constexpr int kColumnCount = 33;

bool IsCSpace(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

int DigitValue(char ch, unsigned nBase)
{
    unsigned nDigit;
    if (ch >= '0' && ch <= '9')
        nDigit = static_cast<unsigned>(ch - '0');
    else if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f')
        nDigit = static_cast<unsigned>((ch | 0x20) - 'a' + 10);
    else
        return -1;
    return nDigit < nBase ? static_cast<int>(nDigit) : -1;
}

// One numeric conversion of the C library's sscanf with a field width ("%2X", "%4u"):
// white space skipped, then at most nWidth characters of an optional sign and digits
// (a hexadecimal "0x" prefix counts as the digit 0, as glibc reads it).
// Advances p past what it read; false when no digit was found.
bool ScanNumber(const char*& p, const char* pEnd, int nWidth, unsigned nBase, uint32_t& dwValue)
{
    while (p < pEnd && IsCSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        ++p;
        --nWidth;
    }
    int nDigits = 0;
    uint32_t dwResult = 0;
    if (nBase == 16 && nWidth >= 2 && pEnd - p >= 2 && p[0] == '0' && (p[1] | 0x20) == 'x') {
        p += 2;
        nWidth -= 2;
        nDigits = 1;
    }
    for (; nWidth > 0 && p < pEnd; --nWidth, ++p, ++nDigits) {
        int nDigit = DigitValue(*p, nBase);
        if (nDigit < 0)
            break;
        dwResult = dwResult * nBase + static_cast<uint32_t>(nDigit);
    }
    if (nDigits == 0)
        return false;
    dwValue = bNegative ? 0u - dwResult : dwResult;
    return true;
}

// Column 0: "%2X%2X%2X%2X%2X%2X" into the six parts of the time. Parts the text does
// not supply are 0, so a line's time never mixes with an earlier line's.
void ScanTime(std::string_view strText, LOGTIME& time)
{
    uint8_t* const apbyParts[] = {&time.byYear, &time.byMonth,  &time.byDay,
                                  &time.byHour, &time.byMinute, &time.bySecond};
    const char* p = strText.data();
    const char* const pEnd = p + strText.size();
    bool bScanning = true;
    for (uint8_t* pbyPart : apbyParts) {
        uint32_t dwValue = 0;
        bScanning = bScanning && ScanNumber(p, pEnd, 2, 16, dwValue);
        *pbyPart = bScanning ? static_cast<uint8_t>(dwValue) : 0;
    }
}

}  // namespace

int32_t ParseInteger(std::string_view strText)
{
    const char* p = strText.data();
    const char* const pEnd = p + strText.size();
    while (p < pEnd && IsCSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-'))
        bNegative = *p++ == '-';
    const int64_t nLimit = bNegative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t nValue = 0;
    for (; p < pEnd && *p >= '0' && *p <= '9'; ++p) {
        nValue = nValue * 10 + (*p - '0');
        if (nValue >= nLimit) {
            nValue = nLimit;
            break;
        }
    }
    return static_cast<int32_t>(bNegative ? -nValue : nValue);
}

void CLogEntry::Reset()
{
    m_nHeldKind = 0;
    m_nCol14 = 0;
    m_nCol16 = 0;
    m_bUnquotedDescription = 0;
    m_nCol18 = 0;
    m_nCol30 = 0;
}

void CLogEntry::ParseLine(std::string_view strLine)
{
    std::string_view strRest = strLine;
    for (int nColumn = 0; nColumn < kColumnCount; ++nColumn) {
        std::string_view strText;
        const bool bQuoteFirst = !strRest.empty() && strRest.front() == '"';
        std::size_t k;
        if (nColumn == 13 && !bQuoteFirst) {
            // Column 13 without an opening quote runs to the end of the line.
            m_bUnquotedDescription = 1;
            StoreColumn(nColumn, strRest);
            strRest = {};
            continue;
        }
        if (nColumn == 13 || (nColumn == 7 && bQuoteFirst)) {
            // Quoted: the text up to the next quote; the character after that quote is
            // dropped as the separator, whatever it is.
            strRest.remove_prefix(1);
            std::size_t nQuote = strRest.find('"');
            k = nQuote == std::string_view::npos ? 0 : nQuote + 1;
        } else {
            k = strRest.find(',');
            if (k == std::string_view::npos) {
                StoreColumn(nColumn, strRest);
                strRest = {};
                continue;
            }
        }
        strText = strRest.substr(0, k);
        if (!strText.empty() && strText.back() == '"')
            strText.remove_suffix(1);
        strRest = strRest.size() > k ? strRest.substr(k + 1) : std::string_view();
        StoreColumn(nColumn, strText);
    }
}

void CLogEntry::StoreColumn(int nColumn, std::string_view strText)
{
    switch (nColumn) {
    case 0: ScanTime(strText, m_Time); break;
    case 1:
        m_nEvent = ParseInteger(strText);
        if (m_nEvent == 2 || m_nEvent == 21) {
            m_HeldTime = m_Time;
            m_nHeldKind = m_nEvent == 2 ? 1 : 2;
        } else if (m_nEvent == 3) {
            m_HeldTime = LOGTIME{};
        }
        break;
    case 2: m_nCol2 = ParseInteger(strText); break;
    case 3: m_nScanType = ParseInteger(strText); break;
    case 4: m_strComputer.assign(strText); break;
    case 5: m_strUser.assign(strText); break;
    case 6: m_strVirusName.assign(strText); break;
    case 7: m_strPath.assign(strText); break;
    case 8: m_nPrimaryAction = ParseInteger(strText); break;
    case 9: m_nSecondaryAction = ParseInteger(strText); break;
    case 10: m_nActionTaken = ParseInteger(strText); break;
    case 11: m_nVirusType = m_nEvent == 10 ? 0 : ParseInteger(strText); break;
    case 12: m_nFlags = ParseInteger(strText); break;
    case 13: m_strDescription.assign(strText); break;
    case 14: m_nCol14 = ParseInteger(strText); break;
    case 15: m_strCol15.assign(strText); break;
    case 16: m_nCol16 = ParseInteger(strText); break;
    case 17: m_strCol17.assign(strText); break;
    case 18: m_nCol18 = ParseInteger(strText); break;
    case 19: m_nCol19 = ParseInteger(strText); break;
    case 20: m_nCol20 = ParseInteger(strText); break;
    case 21: m_nCol21 = ParseInteger(strText); break;
    case 22: m_nCol22 = ParseInteger(strText); break;
    case 23: m_nContainerFlag = ParseInteger(strText); break;
    case 24: m_nContainerLevel = ParseInteger(strText); break;
    case 25: m_nCol25 = ParseInteger(strText); break;
    case 26: {
        // "%04u%02u%02u.%03u": each value the scan reaches replaces its member.
        const char* p = strText.data();
        const char* const pEnd = p + strText.size();
        uint32_t dwValue = 0;
        if (!ScanNumber(p, pEnd, 4, 10, dwValue))
            break;
        m_wStampYear = static_cast<uint16_t>(dwValue);
        if (!ScanNumber(p, pEnd, 2, 10, dwValue))
            break;
        m_wStampMonth = static_cast<uint16_t>(dwValue);
        if (!ScanNumber(p, pEnd, 2, 10, dwValue))
            break;
        m_wStampDay = static_cast<uint16_t>(dwValue);
        if (p == pEnd || *p++ != '.' || !ScanNumber(p, pEnd, 3, 10, dwValue))
            break;
        m_dwStampRevision = dwValue;
        break;
    }
    case 27:
        if (!strText.empty())
            m_nCol27 = ParseInteger(strText);
        break;
    case 28: m_nCol28 = ParseInteger(strText); break;
    case 29: m_nCol29 = ParseInteger(strText); break;
    case 30: m_nCol30 = ParseInteger(strText); break;
    case 31: m_strCol31.assign(strText); break;
    case 32: m_strCol32.assign(strText); break;
    default: break;
    }
}
