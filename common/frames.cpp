// Framing between the confined reader and its writer, and the writer's checks.
#include "common/frames.h"

#include <array>
#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHistoryFields = 13;

std::size_t MaxPayload(uint8_t nType)
{
    switch (nType) {
    case kFrameOpened: return 0;
    case kFrameRow: return kMaxRowFrame;
    case kFrameRecords: return kMaxRecordsFrame;
    case kFrameLine: return kMaxLineFrame;
    case kFrameEnd: return 1;
    case kFrameAskFile: return kMaxFileNameFrame;
    case kFrameProgress: return kMaxProgressFrame;
    default: return 0;
    }
}

// The statuses a reader ends with: before the system is open, a refusal (not
// installed, no data folder, a pattern too long, an unreadable system) or reading
// cut short (out of memory); after it, success or an incomplete run. The history
// file's refusal (2) and a damaged row (6) are the writer's own.
bool IsReaderStatus(unsigned nStatus, bool bOpened)
{
    return bOpened ? nStatus == 0 || nStatus == 4
                   : nStatus == 1 || nStatus == 3 || nStatus == 4 || nStatus == 5 || nStatus == 7;
}

// How deep a record's objects and arrays may nest: ours nest two deep.
constexpr int kMaxRecordDepth = 64;

// The bytes a string holds as they are in a run: printable ASCII but the quote
// and the backslash. DEL (0x7F) stands among them, as JSON allows: the timeline
// writer copies it from a log as it is.
constexpr std::array<bool, 256> kPlainInString = [] {
    std::array<bool, 256> ab{};
    for (int i = 0x20; i <= 0x7F; ++i)
        ab[i] = i != '"' && i != '\\';
    return ab;
}();

// The index in memory of the first of a word's eight bytes that is not 0.
int FirstByteSet(uint64_t nWord)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_ctzll(nWord) >> 3;
#else
    unsigned char ab[8];
    std::memcpy(ab, &nWord, 8);
    int i = 0;
    while (ab[i] == 0)
        ++i;
    return i;
#endif
}

bool IsHexDigit(unsigned char ch)
{
    return (ch >= '0' && ch <= '9') || ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f');
}

// The UTF-16 unit of "\uXXXX" whose hex digits start at p; false if they are not
// four hex digits before pEnd.
bool ReadEscapedUnit(const unsigned char* p, const unsigned char* pEnd, unsigned& nUnit)
{
    if (pEnd - p < 4)
        return false;
    nUnit = 0;
    for (int i = 0; i < 4; ++i) {
        if (!IsHexDigit(p[i]))
            return false;
        nUnit = nUnit << 4 | static_cast<unsigned>(p[i] <= '9' ? p[i] - '0' : (p[i] | 0x20) - 'a' + 10);
    }
    return true;
}

// Past a JSON string whose opening quote p is past: its escapes whole (a
// surrogate escaped only in its pair), its text well-formed UTF-8 with no raw
// control character. Null if it is not one.
const unsigned char* SkipString(const unsigned char* p, const unsigned char* pEnd)
{
    for (;;) {
        // Eight bytes at a time to the first that is a quote, a backslash, a
        // control character or beyond ASCII: the lowest byte whose top bit is set
        // in nSpecial (a borrow may set it in bytes after that one, never before).
        constexpr uint64_t kOnes = 0x0101010101010101, kTops = 0x8080808080808080;
        for (;;) {
            if (pEnd - p < 8) {
                while (p < pEnd && kPlainInString[*p])
                    ++p;
                break;
            }
            uint64_t nWord;
            std::memcpy(&nWord, p, 8);
            const uint64_t nQuotes = nWord ^ kOnes * '"', nBackslashes = nWord ^ kOnes * '\\';
            const uint64_t nSpecial = (((nWord - kOnes * 0x20) & ~nWord) | ((nQuotes - kOnes) & ~nQuotes) |
                                       ((nBackslashes - kOnes) & ~nBackslashes) | nWord) &
                                      kTops;
            if (nSpecial != 0) {
                p += FirstByteSet(nSpecial);
                break;
            }
            p += 8;
        }
        if (p == pEnd)
            return nullptr;
        const unsigned char ch = *p;
        if (ch == '"')
            return p + 1;
        if (ch == '\\') {
            if (++p == pEnd)
                return nullptr;
            if (*p != 'u') {
                if (*p != '"' && *p != '\\' && *p != '/' && *p != 'b' && *p != 'f' && *p != 'n' && *p != 'r' &&
                    *p != 't')
                    return nullptr;
                ++p;
                continue;
            }
            unsigned nUnit = 0, nLow = 0;
            if (!ReadEscapedUnit(p + 1, pEnd, nUnit) || (nUnit >= 0xDC00 && nUnit <= 0xDFFF))
                return nullptr;
            p += 5;
            if (nUnit >= 0xD800 && nUnit <= 0xDBFF) {
                if (pEnd - p < 2 || p[0] != '\\' || p[1] != 'u' || !ReadEscapedUnit(p + 2, pEnd, nLow) ||
                    nLow < 0xDC00 || nLow > 0xDFFF)
                    return nullptr;
                p += 6;
            }
            continue;
        }
        if (ch < 0x80)
            return nullptr;  // a control character
        const std::size_t nLength = Utf8SequenceLength(p, pEnd);
        if (nLength == 0 || IsHiddenControl(p, nLength))
            return nullptr;  // no UTF-8, or a control a terminal would act on (escaped, it may stand)
        p += nLength;
    }
}

// Past a JSON number starting at p: "-", an integer with no leading zero, then a
// fraction and an exponent, each if present. Null if it is not one.
const unsigned char* SkipNumber(const unsigned char* p, const unsigned char* pEnd)
{
    auto skipDigits = [&p, pEnd] {
        const unsigned char* const pStart = p;
        while (p < pEnd && *p >= '0' && *p <= '9')
            ++p;
        return p != pStart;
    };
    if (p < pEnd && *p == '-')
        ++p;
    if (p < pEnd && *p == '0')
        ++p;
    else if (!skipDigits())
        return nullptr;
    if (p < pEnd && *p == '.' && (++p, !skipDigits()))
        return nullptr;
    if (p < pEnd && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < pEnd && (*p == '+' || *p == '-'))
            ++p;
        if (!skipDigits())
            return nullptr;
    }
    return p;
}

// Whether the line (without its LF) is one JSON object and nothing else: no
// space before or after it, and none but the space between its tokens (any other
// control character refused). Checked in one pass, without recursion: the
// objects and arrays open are bits of a word, an object's 1.
bool IsJsonRecord(const unsigned char* p, const unsigned char* const pEnd)
{
    if (p == pEnd || *p != '{')
        return false;
    uint64_t nOpen = 0;  // bit i: whether the container at depth i + 1 is an object
    int nDepth = 0;
    enum { kValue, kKey, kAfterValue } expect = kValue;
    for (;;) {
        if (expect == kAfterValue && nDepth == 0)
            return p == pEnd;
        while (p < pEnd && *p == ' ')
            ++p;
        if (expect == kAfterValue) {
            if (p == pEnd)
                return false;
            const bool bObject = (nOpen >> (nDepth - 1) & 1) != 0;
            if (*p == ',') {
                ++p;
                expect = bObject ? kKey : kValue;
            } else if (*p == (bObject ? '}' : ']')) {
                ++p;
                --nDepth;
            } else {
                return false;
            }
            continue;
        }
        if (p == pEnd)
            return false;
        if (expect == kKey) {
            if (*p != '"' || (p = SkipString(p + 1, pEnd)) == nullptr)
                return false;
            while (p < pEnd && *p == ' ')
                ++p;
            if (p == pEnd || *p != ':')
                return false;
            ++p;
            expect = kValue;
            continue;
        }
        switch (*p) {
        case '{':
        case '[': {
            if (nDepth == kMaxRecordDepth)
                return false;
            const bool bObject = *p == '{';
            nOpen = (nOpen & ~(uint64_t{1} << nDepth)) | uint64_t{bObject} << nDepth;
            ++nDepth;
            ++p;
            while (p < pEnd && *p == ' ')
                ++p;
            if (p < pEnd && *p == (bObject ? '}' : ']')) {
                ++p;
                --nDepth;
                expect = kAfterValue;
            } else {
                expect = bObject ? kKey : kValue;
            }
            continue;
        }
        case '"': p = SkipString(p + 1, pEnd); break;
        case 't': p = pEnd - p >= 4 && std::memcmp(p, "true", 4) == 0 ? p + 4 : nullptr; break;
        case 'f': p = pEnd - p >= 5 && std::memcmp(p, "false", 5) == 0 ? p + 5 : nullptr; break;
        case 'n': p = pEnd - p >= 4 && std::memcmp(p, "null", 4) == 0 ? p + 4 : nullptr; break;
        default: p = SkipNumber(p, pEnd); break;
        }
        if (p == nullptr)
            return false;
        expect = kAfterValue;
    }
}


}  // namespace

bool IsHiddenControl(const unsigned char* p, std::size_t nLength)
{
    // U+0080 to U+009F (C1: a terminal may take U+009B as an escape), and the
    // direction overrides and isolates, U+202A to U+202E and U+2066 to U+2069,
    // which show text in another order than it is.
    return (nLength == 2 && p[0] == 0xC2 && p[1] < 0xA0) ||
           (nLength == 3 && p[0] == 0xE2 &&
            ((p[1] == 0x80 && p[2] >= 0xAA && p[2] <= 0xAE) || (p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9)));
}

std::size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* pEnd)
{
    // The range of the first byte's continuation, bar overlong forms, surrogates
    // and code points past U+10FFFF.
    const unsigned char ch = *p;
    if (ch < 0x80)
        return 1;
    unsigned char chLow = 0x80, chHigh = 0xBF;
    std::ptrdiff_t nMore;
    if (ch >= 0xC2 && ch <= 0xDF) {
        nMore = 1;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        nMore = 2;
        if (ch == 0xE0)
            chLow = 0xA0;
        else if (ch == 0xED)
            chHigh = 0x9F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        nMore = 3;
        if (ch == 0xF0)
            chLow = 0x90;
        else if (ch == 0xF4)
            chHigh = 0x8F;
    } else {
        return 0;
    }
    if (pEnd - p <= nMore || p[1] < chLow || p[1] > chHigh)
        return 0;
    for (std::ptrdiff_t i = 2; i <= nMore; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return static_cast<std::size_t>(nMore) + 1;
}

void AppendFrame(std::string& strOut, FrameType type, std::string_view strPayload)
{
    const uint32_t nSize = static_cast<uint32_t>(strPayload.size());
    const char achHeader[kFrameHeaderSize] = {static_cast<char>(type), static_cast<char>(nSize & 0xFF),
                                              static_cast<char>(nSize >> 8 & 0xFF), static_cast<char>(nSize >> 16 & 0xFF),
                                              static_cast<char>(nSize >> 24)};
    strOut.append(achHeader, sizeof(achHeader));
    strOut.append(strPayload);
}

void CFrameDecoder::Feed(const char* pData, std::size_t nSize)
{
    // What was handed out last is done with: the buffer keeps only what follows it.
    if (m_nStart != 0) {
        m_strBuffer.erase(0, m_nStart);
        m_nStart = 0;
    }
    m_strBuffer.append(pData, nSize);
}

CFrameDecoder::Result CFrameDecoder::Bad(std::string strFault)
{
    m_strFault = std::move(strFault);
    return kBad;
}

CFrameDecoder::Result CFrameDecoder::Next(FRAME& frame)
{
    if (!m_strFault.empty())
        return kBad;
    const std::size_t nHave = m_strBuffer.size() - m_nStart;
    if (nHave == 0)
        return kNeedMore;
    const unsigned char* const p = reinterpret_cast<const unsigned char*>(m_strBuffer.data() + m_nStart);
    const uint8_t nType = p[0];
    if (nType < kFrameOpened || nType > kFrameProgress)
        return Bad("a frame of unknown type " + std::to_string(nType));
    if (m_bEnded)
        return Bad("a frame after the reader's last");
    if (nHave < kFrameHeaderSize)
        return kNeedMore;
    const uint32_t nSize = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                           static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
    if (nSize > MaxPayload(nType) || (nType == kFrameEnd && nSize != 1))
        return Bad("a frame of type " + std::to_string(nType) + " and " + std::to_string(nSize) + " bytes");
    if (nHave - kFrameHeaderSize < nSize)
        return kNeedMore;
    const std::string_view strPayload(m_strBuffer.data() + m_nStart + kFrameHeaderSize, nSize);
    switch (nType) {
    case kFrameOpened:
        if (m_bOpened)
            return Bad("the system said open twice");
        m_bOpened = true;
        break;
    case kFrameRow:
        if (!m_bOpened || !IsWholeRow(strPayload))
            return Bad(m_bOpened ? "a row that is not 13 whole fields" : "a row before the system is open");
        break;
    case kFrameRecords:
        if (!m_bOpened || !AreWholeRecords(strPayload))
            return Bad(m_bOpened ? "timeline records that are not whole" : "records before the system is open");
        break;
    case kFrameAskFile:
        // Asked while the image is opened, by a plain file name.
        if (m_bOpened || strPayload.empty() || strPayload == "." || strPayload == ".." ||
            strPayload.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
            return Bad(m_bOpened ? "a file asked for once the system is open" : "a file asked for by no plain name");
        break;
    case kFrameProgress: {
        // Sent while the outputs are open, each a sound reader's counts.
        PROGRESS progress;
        if (!m_bOpened || !DecodeProgress(strPayload, progress))
            return Bad(m_bOpened ? "progress that no reading makes" : "progress before the system is open");
        break;
    }
    case kFrameEnd:
        if (!IsReaderStatus(static_cast<unsigned char>(strPayload[0]), m_bOpened))
            return Bad("an exit status of " + std::to_string(static_cast<unsigned char>(strPayload[0])) +
                       (m_bOpened ? " once the system is open" : " before the system is open"));
        m_bEnded = true;
        break;
    default: break;
    }
    frame.type = static_cast<FrameType>(nType);
    frame.strPayload = strPayload;
    m_nStart += kFrameHeaderSize + nSize;
    return kFrame;
}

bool IsWholeRow(std::string_view strRow)
{
    std::size_t nPos = 0, nFields = 0;
    const std::size_t nSize = strRow.size();
    for (;;) {
        ++nFields;
        if (nPos < nSize && strRow[nPos] == '"') {
            // Quoted: to the closing quote, a doubled quote standing for one.
            for (++nPos;; ++nPos) {
                if (nPos >= nSize)
                    return false;
                if (strRow[nPos] == '"') {
                    if (nPos + 1 < nSize && strRow[nPos + 1] == '"')
                        ++nPos;
                    else
                        break;
                }
            }
            ++nPos;
        } else {
            while (nPos < nSize && strRow[nPos] != ',' && strRow[nPos] != '"' && strRow[nPos] != '\r' &&
                   strRow[nPos] != '\n')
                ++nPos;
        }
        if (nPos < nSize && strRow[nPos] == ',') {
            ++nPos;
            continue;
        }
        return nFields == kHistoryFields && nPos + 2 == nSize && strRow[nPos] == '\r' && strRow[nPos + 1] == '\n';
    }
}

bool AreWholeRecords(std::string_view strRecords)
{
    if (strRecords.empty() || strRecords.back() != '\n')
        return false;
    const unsigned char* const pData = reinterpret_cast<const unsigned char*>(strRecords.data());
    for (std::size_t nStart = 0; nStart < strRecords.size();) {
        const std::size_t nEnd = strRecords.find('\n', nStart);
        if (!IsJsonRecord(pData + nStart, pData + nEnd))
            return false;
        nStart = nEnd + 1;
    }
    return true;
}

namespace {

void AppendNumber(std::string& strOut, uint64_t nValue, int nBytes)
{
    for (int i = 0; i < nBytes; ++i)
        strOut += static_cast<char>(nValue >> (8 * i) & 0xFF);
}

uint64_t ReadNumber(const unsigned char* p, int nBytes)
{
    uint64_t nValue = 0;
    for (int i = nBytes - 1; i >= 0; --i)
        nValue = nValue << 8 | p[i];
    return nValue;
}

}  // namespace

std::string PrintableUtf8(std::string_view strText)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(strText.data());
    const unsigned char* const pEnd = p + strText.size();
    std::string strPrintable;
    while (p < pEnd) {
        const std::size_t nLength = Utf8SequenceLength(p, pEnd);
        if (nLength == 0 || *p < 0x20 || *p == 0x7F || IsHiddenControl(p, nLength))
            strPrintable += '?';
        else
            strPrintable.append(reinterpret_cast<const char*>(p), nLength);
        p += nLength == 0 ? 1 : nLength;
    }
    return strPrintable;
}

std::string RedrawnLine(std::string_view strLine, std::size_t nWidth, std::size_t& nShown)
{
    std::string strOut = "\r";
    std::size_t nColumns = 0;
    for (const char ch : strLine) {
        if ((ch & 0xC0) != 0x80 && nColumns++ == nWidth)
            break;
        strOut += ch;
    }
    nColumns = std::min(nColumns, nWidth);
    if (nColumns < nShown)
        strOut.append(nShown - nColumns, ' ');
    if (strLine.empty())
        strOut += '\r';
    nShown = nColumns;
    return strOut;
}

std::string EncodeProgress(const PROGRESS& progress)
{
    std::string strPayload;
    for (const uint32_t nCount : {progress.nLogsFound, progress.nLogsRead, progress.nLogsInPart, progress.nLogsNotRead})
        AppendNumber(strPayload, nCount, 4);
    AppendNumber(strPayload, progress.nBytesRead, 8);
    strPayload += static_cast<char>(progress.nState);
    // A search too long for the frame is not sent.
    const std::string strSearch = PrintableUtf8(progress.strSearch);
    if (strSearch.size() <= kMaxProgressFrame - kProgressCounts)
        strPayload += strSearch;
    return strPayload;
}

bool DecodeProgress(std::string_view strPayload, PROGRESS& progress)
{
    if (strPayload.size() < kProgressCounts || strPayload.size() > kMaxProgressFrame)
        return false;
    const unsigned char* const p = reinterpret_cast<const unsigned char*>(strPayload.data());
    progress.nLogsFound = static_cast<uint32_t>(ReadNumber(p, 4));
    progress.nLogsRead = static_cast<uint32_t>(ReadNumber(p + 4, 4));
    progress.nLogsInPart = static_cast<uint32_t>(ReadNumber(p + 8, 4));
    progress.nLogsNotRead = static_cast<uint32_t>(ReadNumber(p + 12, 4));
    progress.nBytesRead = ReadNumber(p + 16, 8);
    progress.nState = p[24];
    const uint64_t nDone = uint64_t{progress.nLogsRead} + progress.nLogsInPart + progress.nLogsNotRead;
    if (nDone > progress.nLogsFound || progress.nState > kProgressNoFolder ||
        (progress.nState == kProgressNoFolder && progress.nLogsFound != 0))
        return false;
    // The search is said on a terminal: printable UTF-8 as PrintableUtf8 makes it.
    const std::string_view strSearch = strPayload.substr(kProgressCounts);
    if (PrintableUtf8(strSearch) != strSearch)
        return false;
    progress.strSearch.assign(strSearch);
    return true;
}
