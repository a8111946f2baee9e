// The log line parser: splits one line into its 33 columns and stores each in its
// member, with the rules that carry state from line to line within one file.
#include "logentry/log_entry.h"

#include <climits>
#include <cstring>

namespace {

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

// Exactly nCount digits of nBase at p, as one value; false when one is not a digit.
// The common forms of the time and stamp columns are read this way: for them it
// gives what the scans give.
bool ReadDigits(const char* p, int nCount, unsigned nBase, uint32_t& dwValue)
{
    uint32_t dwResult = 0;
    for (int i = 0; i < nCount; ++i) {
        int nDigit = DigitValue(p[i], nBase);
        if (nDigit < 0)
            return false;
        dwResult = dwResult * nBase + static_cast<uint32_t>(nDigit);
    }
    dwValue = dwResult;
    return true;
}

}  // namespace

// Column 0: "%2X%2X%2X%2X%2X%2X" into the six parts of the time. Parts the text does
// not supply are 0, so a line's time never mixes with an earlier line's.
bool ScanLogTime(std::string_view strText, LOGTIME& time)
{
    uint8_t* const apbyParts[] = {&time.byYear, &time.byMonth,  &time.byDay,
                                  &time.byHour, &time.byMinute, &time.bySecond};
    const char* p = strText.data();
    const char* const pEnd = p + strText.size();
    if (strText.size() >= 12) {
        uint32_t adwParts[6];
        int nParts = 0;
        while (nParts < 6 && ReadDigits(p + 2 * nParts, 2, 16, adwParts[nParts]))
            ++nParts;
        if (nParts == 6) {
            for (int i = 0; i < 6; ++i)
                *apbyParts[i] = static_cast<uint8_t>(adwParts[i]);
            return true;
        }
    }
    bool bScanning = true;
    for (uint8_t* pbyPart : apbyParts) {
        uint32_t dwValue = 0;
        bScanning = bScanning && ScanNumber(p, pEnd, 2, 16, dwValue);
        *pbyPart = bScanning ? static_cast<uint8_t>(dwValue) : 0;
    }
    return bScanning;
}

namespace {

// Walks the columns of one line from left to right. A column ends at a comma, which
// also drops one double quote at its end; the last column is the rest of the line,
// unchanged. Past the end of the line every column is empty.
class CColumnCursor {
public:
    explicit CColumnCursor(std::string_view strLine)
        : m_p(strLine.data()), m_pEnd(strLine.data() + strLine.size())
    {
    }

    bool AtQuote() const { return m_p < m_pEnd && *m_p == '"'; }

    std::string_view Next()
    {
        const char* const pStart = m_p;
        if (m_p == m_pEnd)
            return {};
        const char* pStop = static_cast<const char*>(
            std::memchr(m_p, ',', static_cast<std::size_t>(m_pEnd - m_p)));
        if (pStop == nullptr)
            return Rest();  // the last column keeps a closing quote
        m_p = pStop + 1;
        if (pStop > pStart && pStop[-1] == '"')
            --pStop;
        return std::string_view(pStart, static_cast<std::size_t>(pStop - pStart));
    }

    // ParseInteger of the next column. Most columns are a few plain digits: those
    // are converted on the way to the comma; anything else takes the general rules.
    int32_t NextInteger()
    {
        const char* p = m_p;
        const char* const pDigitsEnd = m_pEnd - p > 9 ? p + 9 : m_pEnd;
        int32_t nValue = 0;
        for (; p < pDigitsEnd && static_cast<unsigned char>(*p - '0') < 10; ++p)
            nValue = nValue * 10 + (*p - '0');
        if (p == m_pEnd || *p == ',') {
            m_p = p < m_pEnd ? p + 1 : m_pEnd;
            return nValue;
        }
        return ParseInteger(Next());
    }

    // A column that starts with a quote: the text up to the next quote. The character
    // after that quote is dropped as the separator, whatever it is. Without a closing
    // quote the text is empty and only the character after the opening quote goes.
    std::string_view NextQuoted()
    {
        const char* const pStart = m_p + 1;
        const void* pQuote = std::memchr(pStart, '"', static_cast<std::size_t>(m_pEnd - pStart));
        if (pQuote == nullptr) {
            m_p = pStart < m_pEnd ? pStart + 1 : m_pEnd;
            return {};
        }
        const char* const pStop = static_cast<const char*>(pQuote);
        m_p = m_pEnd - pStop > 1 ? pStop + 2 : m_pEnd;
        return std::string_view(pStart, static_cast<std::size_t>(pStop - pStart));
    }

    // The rest of the line as one column.
    std::string_view Rest()
    {
        std::string_view strRest(m_p, static_cast<std::size_t>(m_pEnd - m_p));
        m_p = m_pEnd;
        return strRest;
    }

private:
    const char* m_p;
    const char* const m_pEnd;
};

// Replaces a text member with a column. Emptied and appended to, the member keeps
// the buffer of earlier lines, which its texts mostly fit, and costs less than an
// assign.
void StoreText(std::string& strMember, std::string_view strColumn)
{
    strMember.clear();
    strMember.append(strColumn);
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

int32_t ReadEventType(std::string_view strLine)
{
    CColumnCursor columns(strLine);
    columns.Next();
    return columns.NextInteger();
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

void CLogEntry::ParseLine(std::string_view strLine, ParseScope scope)
{
    CColumnCursor columns(strLine);
    ScanLogTime(columns.Next(), m_Time);
    m_nEvent = columns.NextInteger();
    if (m_nEvent == kEventHoldTime || m_nEvent == kEventHoldTimeSecond) {
        m_HeldTime = m_Time;
        m_nHeldKind = m_nEvent == kEventHoldTime ? kHeldKindFirst : kHeldKindSecond;
    } else if (m_nEvent == kEventClearHeldTime) {
        m_HeldTime = LOGTIME{};
    }
    m_nCol2 = columns.NextInteger();
    m_nScanType = columns.NextInteger();
    StoreText(m_strComputer, columns.Next());
    StoreText(m_strUser, columns.Next());
    StoreText(m_strVirusName, columns.Next());
    StoreText(m_strPath, columns.AtQuote() ? columns.NextQuoted() : columns.Next());
    m_nPrimaryAction = columns.NextInteger();
    m_nSecondaryAction = columns.NextInteger();
    m_nActionTaken = columns.NextInteger();
    const int32_t nVirusType = columns.NextInteger();
    m_nVirusType = m_nEvent == kEventWithoutVirusType ? 0 : nVirusType;
    m_nFlags = columns.NextInteger();
    if (columns.AtQuote()) {
        StoreText(m_strDescription, columns.NextQuoted());
    } else {
        // Without an opening quote the description runs to the end of the line, and
        // every later column is empty.
        m_bUnquotedDescription = 1;
        StoreText(m_strDescription, columns.Rest());
    }
    if (scope == kRowColumns) {
        // Of the columns after the description, the row shows only the container's.
        for (int nColumn = 14; nColumn < 23; ++nColumn)
            columns.Next();
        m_nContainerFlag = columns.NextInteger();
        m_nContainerLevel = columns.NextInteger();
        return;
    }
    m_nCol14 = columns.NextInteger();
    StoreText(m_strCol15, columns.Next());
    m_nCol16 = columns.NextInteger();
    StoreText(m_strCol17, columns.Next());
    m_nCol18 = columns.NextInteger();
    m_nCol19 = columns.NextInteger();
    m_nCol20 = columns.NextInteger();
    m_nCol21 = columns.NextInteger();
    m_nCol22 = columns.NextInteger();
    m_nContainerFlag = columns.NextInteger();
    m_nContainerLevel = columns.NextInteger();
    m_nCol25 = columns.NextInteger();
    ScanStamp(columns.Next());
    const std::string_view strCol27 = columns.Next();
    if (!strCol27.empty())
        m_nCol27 = ParseInteger(strCol27);
    m_nCol28 = columns.NextInteger();
    m_nCol29 = columns.NextInteger();
    m_nCol30 = columns.NextInteger();
    StoreText(m_strCol31, columns.Next());
    StoreText(m_strCol32, columns.Next());
}

void CLogEntry::ScanStamp(std::string_view strText)
{
    // "%04u%02u%02u.%03u": each value the scan reaches replaces its member.
    const char* p = strText.data();
    const char* const pEnd = p + strText.size();
    uint32_t dwValue = 0;
    uint32_t dwDate = 0;
    if (strText.size() >= 12 && ReadDigits(p, 8, 10, dwDate) && p[8] == '.' &&
        ReadDigits(p + 9, 3, 10, dwValue)) {
        m_wStampYear = static_cast<uint16_t>(dwDate / 10000);
        m_wStampMonth = static_cast<uint16_t>(dwDate / 100 % 100);
        m_wStampDay = static_cast<uint16_t>(dwDate % 100);
        m_dwStampRevision = dwValue;
        return;
    }
    if (!ScanNumber(p, pEnd, 4, 10, dwValue))
        return;
    m_wStampYear = static_cast<uint16_t>(dwValue);
    if (!ScanNumber(p, pEnd, 2, 10, dwValue))
        return;
    m_wStampMonth = static_cast<uint16_t>(dwValue);
    if (!ScanNumber(p, pEnd, 2, 10, dwValue))
        return;
    m_wStampDay = static_cast<uint16_t>(dwValue);
    if (p == pEnd || *p++ != '.' || !ScanNumber(p, pEnd, 3, 10, dwValue))
        return;
    m_dwStampRevision = dwValue;
}
