// The timeline writer: each log line becomes one JSON record, composed in a
// buffer that is written out in large pieces.
#include "export/timeline_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/frames.h"
#include "export/history_writer.h"
#include "logentry/log_entry.h"

namespace {

constexpr std::size_t kFlushSize = 1 << 20;
constexpr const char* kTimestampDescription = "Event Logged";
constexpr std::size_t kQuotedColumns[] = {7, 13};  // columns the log may quote
constexpr std::size_t kMessageColumns = 6;  // the time, the event, computer and user among them

// How each byte stands in a JSON string, as bits: none as it is, 1 escaped by a
// letter, 2 as \u00XX, 4 a byte of a character beyond ASCII (text of the code
// page must be converted; UTF-8 stands as it is).
constexpr std::array<char, 256> kKinds = [] {
    std::array<char, 256> ab{};
    for (int i = 0; i < 0x20; ++i)
        ab[i] = 2;
    ab['"'] = ab['\\'] = ab['\b'] = ab['\f'] = ab['\n'] = ab['\r'] = ab['\t'] = 1;
    for (int i = 0x80; i < 0x100; ++i)
        ab[i] = 4;
    return ab;
}();

// UTF-8 text appended inside a JSON string, escaped.
void AppendEscapedUtf8(std::string& strJson, std::string_view strText)
{
    std::size_t nRun = 0;
    const auto* const pText = reinterpret_cast<const unsigned char*>(strText.data());
    for (std::size_t i = 0; i < strText.size(); ++i) {
        const char chKind = kKinds[pText[i]];
        if (chKind == 0)
            continue;
        if (chKind == 4) {
            // A C1 control or a direction override stands escaped, as a terminal
            // showing the timeline must not act on it: the same JSON text.
            const std::size_t nLength =
                pText[i] == 0xC2 || pText[i] == 0xE2 ? Utf8SequenceLength(pText + i, pText + strText.size()) : 0;
            if (nLength == 0 || !IsHiddenControl(pText + i, nLength))
                continue;
            const unsigned nCode = nLength == 2 ? (pText[i] & 0x1Fu) << 6 | (pText[i + 1] & 0x3Fu)
                                                : (pText[i] & 0x0Fu) << 12 | (pText[i + 1] & 0x3Fu) << 6 |
                                                      (pText[i + 2] & 0x3Fu);
            static constexpr char szHex[] = "0123456789abcdef";
            strJson.append(strText.data() + nRun, i - nRun);
            const char achEscape[] = {'\\', 'u', szHex[nCode >> 12], szHex[nCode >> 8 & 15], szHex[nCode >> 4 & 15],
                                      szHex[nCode & 15]};
            strJson.append(achEscape, sizeof(achEscape));
            i += nLength - 1;
            nRun = i + 1;
            continue;
        }
        strJson.append(strText.data() + nRun, i - nRun);
        nRun = i + 1;
        const char ch = strText[i];
        if (chKind == 1) {
            static constexpr char szFrom[] = "\"\\\b\f\n\r\t", szTo[] = "\"\\bfnrt";
            strJson += '\\';
            strJson += szTo[std::strchr(szFrom, ch) - szFrom];
        } else {
            static constexpr char szHex[] = "0123456789abcdef";
            const char achEscape[] = {'\\', 'u', '0', '0', szHex[ch >> 4], szHex[ch & 15]};
            strJson.append(achEscape, sizeof(achEscape));
        }
    }
    strJson.append(strText.data() + nRun, strText.size() - nRun);
}

// Text of the system's code page appended inside a JSON string: most text is
// ASCII with nothing to escape, which stands as it is in every code page and in
// UTF-8.
void AppendEscapedText(std::string& strJson, std::string_view strText)
{
    char chKinds = 0;
    for (char ch : strText)
        chKinds |= kKinds[static_cast<unsigned char>(ch)];
    if (chKinds == 0)
        strJson.append(strText);
    else if (chKinds & 4)
        AppendEscapedUtf8(strJson, plat::TextToUtf8(strText));
    else
        AppendEscapedUtf8(strJson, strText);
}

// Text the host says is UTF-8 appended as a JSON string. A byte that is no part
// of a well-formed character (a Linux path may hold any) stands as U+FFFD, so
// the record stays JSON.
void AppendJsonUtf8(std::string& strJson, std::string_view strText)
{
    std::string strWellFormed;
    const auto* const pStart = reinterpret_cast<const unsigned char*>(strText.data());
    const auto* const pEnd = pStart + strText.size();
    for (const unsigned char* p = pStart; p < pEnd;) {
        const std::size_t nLength = Utf8SequenceLength(p, pEnd);
        strWellFormed.append(nLength != 0 ? reinterpret_cast<const char*>(p) : "\xEF\xBF\xBD", nLength != 0 ? nLength : 3);
        p += nLength != 0 ? nLength : 1;
    }
    strJson += '"';
    AppendEscapedUtf8(strJson, strWellFormed);
    strJson += '"';
}

// Digits of a number, at least nWidth of them, written backwards from pEnd; the
// start of what was written.
char* PutDigits(char* pEnd, unsigned long long nValue, int nWidth = 1)
{
    do {
        *--pEnd = static_cast<char>('0' + nValue % 10);
        nValue /= 10;
    } while (--nWidth > 0 || nValue != 0);
    return pEnd;
}

void AppendNumber(std::string& strJson, long long nValue)
{
    char szNumber[24];
    char* const pEnd = szNumber + sizeof(szNumber);
    const unsigned long long nMagnitude = nValue < 0 ? 0ULL - static_cast<unsigned long long>(nValue)
                                                     : static_cast<unsigned long long>(nValue);
    char* p = PutDigits(pEnd, nMagnitude);
    if (nValue < 0)
        *--p = '-';
    strJson.append(p, static_cast<std::size_t>(pEnd - p));
}

// A time as JSON: "YYYY-MM-DDTHH:MM:SS", with "Z" for UTC.
void AppendTime(std::string& strJson, const DATETIME& time, bool bUtc)
{
    char achTime[] = "\"0000-00-00T00:00:00Z\"";
    PutDigits(achTime + 5, static_cast<unsigned>(time.nYear), 4);
    PutDigits(achTime + 8, static_cast<unsigned>(time.nMonth), 2);
    PutDigits(achTime + 11, static_cast<unsigned>(time.nDay), 2);
    PutDigits(achTime + 14, static_cast<unsigned>(time.nHour), 2);
    PutDigits(achTime + 17, static_cast<unsigned>(time.nMinute), 2);
    PutDigits(achTime + 20, static_cast<unsigned>(time.nSecond), 2);
    if (!bUtc) {
        achTime[20] = '"';
        strJson.append(achTime, 21);
    } else {
        strJson.append(achTime, 22);
    }
}

// The columns of a line (the first nMost), as the log writes them: split at
// commas, where a quoted column 7 or 13 runs to its closing quote. Each keeps its
// text as written, so that joined by commas they give the line back.
void SplitColumns(std::string_view strLine, std::vector<std::string_view>& astrColumns, std::size_t nMost)
{
    astrColumns.clear();
    std::size_t nStart = 0;
    for (std::size_t nColumn = 0; nColumn < nMost; ++nColumn) {
        std::size_t nSearch = nStart;
        if ((nColumn == kQuotedColumns[0] || nColumn == kQuotedColumns[1]) && nStart < strLine.size() &&
            strLine[nStart] == '"') {
            const std::size_t nClose = strLine.find('"', nStart + 1);
            if (nClose != std::string_view::npos)
                nSearch = nClose;
        }
        const std::size_t nComma = strLine.find(',', nSearch);
        if (nComma == std::string_view::npos) {
            astrColumns.push_back(strLine.substr(nStart));
            return;
        }
        astrColumns.push_back(strLine.substr(nStart, nComma - nStart));
        nStart = nComma + 1;
    }
}

// The columns of a line as JSON strings joined by commas, split as SplitColumns
// splits them, in one pass, when the line is ASCII without control characters
// (quotes and backslashes escaped); false, with nothing appended, when it is not.
bool AppendAsciiColumns(std::string& strJson, std::string_view strLine)
{
    // The bytes that are not copied as they are: commas, quotes, backslashes,
    // control characters and bytes beyond ASCII.
    static constexpr std::array<bool, 256> abSpecial = [] {
        std::array<bool, 256> ab{};
        for (int i = 0; i < 256; ++i)
            ab[i] = kKinds[i] != 0 || i == ',';
        return ab;
    }();
    const std::size_t nStart = strJson.size();
    strJson.resize(nStart + 3 * strLine.size() + 2);  // a comma is three bytes at most
    char* const pStart = &strJson[nStart];
    char* p = pStart;
    *p++ = '"';
    const char* const pEnd = strLine.data() + strLine.size();
    const char* pColumn = strLine.data();  // where the current column starts
    std::size_t nColumn = 0;
    bool bQuoted = false;  // in a quoted column 7 or 13, before its closing quote
    for (const char* pIn = strLine.data(); pIn < pEnd; ++pIn) {
        const char ch = *pIn;
        if (!abSpecial[static_cast<unsigned char>(ch)]) {
            *p++ = ch;
        } else if (ch == ',') {
            if (bQuoted) {
                *p++ = ',';
                continue;
            }
            *p++ = '"';
            *p++ = ',';
            *p++ = '"';
            ++nColumn;
            pColumn = pIn + 1;
        } else if (ch == '"' || ch == '\\') {
            if (ch == '"')
                bQuoted = pIn == pColumn ? nColumn == kQuotedColumns[0] || nColumn == kQuotedColumns[1] : false;
            *p++ = '\\';
            *p++ = ch;
        } else {
            strJson.resize(nStart);
            return false;
        }
    }
    *p++ = '"';
    strJson.resize(nStart + static_cast<std::size_t>(p - pStart));
    return true;
}

// A log time as a date and time, if it is one: all six parts read and each in
// its range.
bool ReadLocalTime(std::string_view strColumn, DATETIME& time)
{
    LOGTIME logTime{};
    if (!ScanLogTime(strColumn, logTime))
        return false;
    time = {logTime.byYear + 1970, logTime.byMonth + 1, logTime.byDay,
            logTime.byHour,        logTime.byMinute,    logTime.bySecond};
    return time.nMonth <= 12 && time.nDay >= 1 && time.nDay <= DaysInMonth(time.nYear, time.nMonth) &&
           time.nHour <= 23 && time.nMinute <= 59 && time.nSecond <= 59;
}

}  // namespace

void AppendJsonText(std::string& strJson, std::string_view strText)
{
    strJson += '"';
    AppendEscapedText(strJson, strText);
    strJson += '"';
}

CTimelineWriter::~CTimelineWriter()
{
    if (m_pFile != nullptr)
        plat::CloseFile(m_pFile);
}

bool CTimelineWriter::Open(const char* szName, bool* pbHeld, bool* pbCreated)
{
    m_bStandardOutput = std::strcmp(szName, kStandardOutputName) == 0;
    if (m_bStandardOutput) {
        *pbHeld = *pbCreated = false;
        m_pFile = plat::OpenStandardOutput();
    } else {
        m_pFile = plat::OpenHeld(szName, true, pbHeld, pbCreated);
    }
    return m_pFile != nullptr;
}

bool CTimelineWriter::Empty()
{
    // A file that is already empty (or a device or pipe, which has no length) is
    // not cut; nor is standard output, which the caller may append to.
    if (m_pFile == nullptr ||
        (!m_bStandardOutput && plat::FileSize(m_pFile) != 0 && !plat::TruncateFile(m_pFile, 0)))
        return false;
    m_nLength = plat::IsDiskFile(m_pFile) ? plat::FileSize(m_pFile) : -1;
    return true;
}

void CTimelineWriter::Start()
{
    m_strSystem = ",\"system\":";
    AppendJsonUtf8(m_strSystem, plat::SystemName());
    const std::string strVolume = plat::SystemVolume();
    if (!strVolume.empty()) {
        m_strSystem += ",\"volume\":";
        AppendJsonUtf8(m_strSystem, strVolume);
    }
    const std::string strZone = plat::TimeZoneName();
    m_strZone = "null";
    if (!strZone.empty()) {
        m_strZone.clear();
        AppendJsonUtf8(m_strZone, strZone);
    }
    m_strBuffer.reserve(kFlushSize + (kFlushSize >> 2));
}

void CTimelineWriter::BeginFile(std::string_view strSource, const char* szRecovered, const plat::ShadowCopy* pCopy)
{
    m_strSource.clear();
    AppendJsonText(m_strSource, strSource);
    if (szRecovered != nullptr) {
        m_strSource += ",\"recovered\":";
        AppendJsonUtf8(m_strSource, szRecovered);
    }
    if (pCopy != nullptr) {
        m_strSource += ",\"shadow_copy\":";
        AppendNumber(m_strSource, pCopy->nNumber);
        m_strSource += ",\"shadow_copy_time\":";
        if (pCopy->created.nYear >= 1601 && pCopy->created.nYear <= 9999)
            AppendTime(m_strSource, pCopy->created, true);
        else
            m_strSource += "null";
    }
}

bool IsLogTime(std::string_view strColumn)
{
    DATETIME time{};
    return ReadLocalTime(strColumn, time);
}

bool CTimelineWriter::ConvertTime(std::string_view strColumn)
{
    // Lines mostly share their minute with the line before, and a zone's offset
    // changes only at a whole minute: the conversion of the minute is kept.
    DATETIME local{};
    if (!ReadLocalTime(strColumn, local))
        return false;
    const bool bSameMinute = m_bTimeKept && local.nYear == m_local.nYear && local.nMonth == m_local.nMonth &&
                             local.nDay == m_local.nDay && local.nHour == m_local.nHour &&
                             local.nMinute == m_local.nMinute;
    if (!bSameMinute) {
        DATETIME utc{};
        m_bTimeKept = false;
        if (!plat::LocalTimeToUtc(local, utc))
            return false;
        static const long long nEpoch = MinutesOf({1970, 1, 1, 0, 0, 0});
        m_nOffset = MinutesOf(local) - MinutesOf(utc);
        m_utc = utc;
        m_nMinuteTimestamp = (MinutesOf(utc) - nEpoch) * 60 * 1000000LL;
        m_bTimeKept = true;
    }
    m_local = local;
    m_utc.nSecond = local.nSecond;
    m_nTimestamp = m_nMinuteTimestamp + local.nSecond * 1000000LL;
    return true;
}

void CTimelineWriter::WriteLine(uint32_t nLine, std::string_view strLine, const CLogEntry* pRow)
{
    if ((m_pFile == nullptr && m_pHandOn == nullptr) || m_result != kTimelineWhole)
        return;
    std::string& strJson = m_strBuffer;
    SplitColumns(strLine, m_astrColumns, kMessageColumns);

    // The time: in UTC by the system's rules, and as logged; null when the line's
    // time column is no time or the rules cannot convert it.
    const bool bTime = ConvertTime(m_astrColumns[0]);
    strJson += "{\"datetime\":";
    if (bTime) {
        AppendTime(strJson, m_utc, true);
        strJson += ",\"timestamp\":";
        AppendNumber(strJson, m_nTimestamp);
    } else {
        strJson += "null,\"timestamp\":null";
    }
    strJson += ",\"timestamp_desc\":\"";
    strJson += kTimestampDescription;

    // The message: the virus event's row in a sentence, or the event and where.
    const int32_t nEvent = ReadEventType(strLine);
    HISTORYFIELD aFields[kHistoryFields];
    strJson += "\",\"message\":\"";
    if (pRow != nullptr) {
        GetHistoryFields(*pRow, aFields);
        const std::pair<const char*, std::string_view> aParts[] = {
            {"Virus ", aFields[2].strText}, {" in ", aFields[7].strText}, {"", aFields[1].strText},
            {" on ", aFields[5].strText},   {" (", aFields[6].strText},   {"): ", aFields[4].strText}};
        for (const auto& [szText, strField] : aParts) {
            strJson += szText;
            AppendEscapedText(strJson, strField);
        }
    } else {
        strJson += "Log event ";
        AppendNumber(strJson, nEvent);
        if (m_astrColumns.size() > 4 && !m_astrColumns[4].empty()) {
            strJson += " on ";
            AppendEscapedText(strJson, m_astrColumns[4]);
        }
        if (m_astrColumns.size() > 5 && !m_astrColumns[5].empty()) {
            strJson += " (";
            AppendEscapedText(strJson, m_astrColumns[5]);
            strJson += ')';
        }
    }

    strJson += "\",\"local_time\":";
    if (bTime) {
        AppendTime(strJson, m_local, false);
        const long long nMagnitude = m_nOffset < 0 ? -m_nOffset : m_nOffset;
        char achOffset[] = ",\"utc_offset\":\"+00:00\"";
        achOffset[15] = m_nOffset < 0 ? '-' : '+';
        PutDigits(achOffset + 18, static_cast<unsigned long long>(nMagnitude / 60 % 100), 2);
        PutDigits(achOffset + 21, static_cast<unsigned long long>(nMagnitude % 60), 2);
        strJson.append(achOffset, sizeof(achOffset) - 1);
        strJson += ",\"time_zone\":";
        strJson += m_strZone;
    } else {
        strJson += "null,\"utc_offset\":null,\"time_zone\":null";
    }
    strJson += ",\"event\":";
    AppendNumber(strJson, nEvent);
    if (pRow != nullptr) {
        for (std::size_t i = 0; i < kHistoryFields; ++i) {
            strJson += ",\"";
            strJson += g_aszHistoryFieldNames[i];
            strJson += "\":";
            AppendJsonText(strJson, aFields[i].strText);
        }
    }
    strJson += ",\"source\":";
    strJson += m_strSource;
    strJson += ",\"line\":";
    AppendNumber(strJson, nLine);
    strJson += m_strSystem;
    strJson += ",\"columns\":[";
    if (!AppendAsciiColumns(strJson, strLine)) {
        SplitColumns(strLine, m_astrColumns, std::string_view::npos);
        for (std::size_t i = 0; i < m_astrColumns.size(); ++i) {
            if (i != 0)
                strJson += ',';
            AppendJsonText(strJson, m_astrColumns[i]);
        }
    }
    strJson += "]}\n";
    if (strJson.size() >= kFlushSize)
        Flush();
}

void CTimelineWriter::Flush()
{
    if (m_strBuffer.empty())
        return;
    if (m_pHandOn != nullptr)
        m_pHandOn(m_strBuffer);
    else
        WriteRecords(m_strBuffer);
    m_strBuffer.clear();
}

bool CTimelineWriter::WriteRecords(std::string_view strRecords)
{
    if (m_result != kTimelineWhole || m_pFile == nullptr)
        return false;
    const long long nWritten = plat::AppendFile(m_pFile, strRecords.data(), strRecords.size());
    if (nWritten == static_cast<long long>(strRecords.size())) {
        if (m_nLength >= 0)
            m_nLength += nWritten;
        if (m_bCounting)
            m_nRecords += static_cast<unsigned long long>(std::count(strRecords.begin(), strRecords.end(), '\n'));
        return true;
    }
    // What was written ends in a whole record, or in a part of the next, which a
    // file on disk loses again. A stream keeps what it took.
    m_result = kTimelineCut;
    m_strWriteError = plat::LastErrorText();
    const std::size_t nDone = nWritten > 0 ? static_cast<std::size_t>(nWritten) : 0;
    const std::size_t nLast = strRecords.rfind('\n', nDone == 0 ? 0 : nDone - 1);
    const std::size_t nWhole = nDone == 0 || nLast == std::string_view::npos ? 0 : nLast + 1;
    if (nDone > nWhole && m_nLength >= 0 &&
        !plat::TruncateFile(m_pFile, m_nLength + static_cast<long long>(nWhole)))
        m_result = kTimelineDamaged;
    return false;
}

TimelineResult CTimelineWriter::Close()
{
    Flush();
    if (m_pFile == nullptr)
        return m_result;
    plat::CloseFile(m_pFile);
    m_pFile = nullptr;
    return m_result;
}
