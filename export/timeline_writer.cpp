// The timeline writer: each log line becomes one JSON record, composed in a
// buffer that is written out in large pieces.
#include "export/timeline_writer.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "common/clock.h"
#include "export/history_writer.h"
#include "logentry/log_entry.h"

namespace {

constexpr std::size_t kFlushSize = 1 << 20;
constexpr const char* kTimestampDescription = "Event Logged";
constexpr std::size_t kQuotedColumns[] = {7, 13};  // columns the log may quote

// How each byte stands in a JSON string: 0 as it is, 1 escaped by a letter, 2 as
// \u00XX.
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> ab{};
    for (int i = 0; i < 0x20; ++i)
        ab[i] = 2;
    ab['"'] = ab['\\'] = ab['\b'] = ab['\f'] = ab['\n'] = ab['\r'] = ab['\t'] = 1;
    return ab;
}();

// UTF-8 text appended as a JSON string.
void AppendJsonUtf8(std::string& strJson, std::string_view strText)
{
    strJson += '"';
    std::size_t nRun = 0;
    for (std::size_t i = 0; i < strText.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strText[i]);
        if (kEscapes[ch] == 0)
            continue;
        strJson.append(strText.data() + nRun, i - nRun);
        nRun = i + 1;
        if (kEscapes[ch] == 1) {
            static constexpr char szFrom[] = "\"\\\b\f\n\r\t", szTo[] = "\"\\bfnrt";
            strJson += '\\';
            strJson += szTo[std::strchr(szFrom, ch) - szFrom];
        } else {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", ch);
            strJson += szEscape;
        }
    }
    strJson.append(strText.data() + nRun, strText.size() - nRun);
    strJson += '"';
}

void AppendNumber(std::string& strJson, long long nValue)
{
    char szNumber[24];
    strJson.append(szNumber, static_cast<std::size_t>(std::snprintf(szNumber, sizeof(szNumber), "%lld", nValue)));
}

// The columns of a line, as the log writes them: split at commas, where a quoted
// column 7 or 13 runs to its closing quote. Each keeps its text as written, so
// that joined by commas they give the line back.
template <typename Visit>
void ForEachColumn(std::string_view strLine, Visit visit)
{
    std::size_t nStart = 0;
    for (std::size_t nColumn = 0;; ++nColumn) {
        std::size_t nSearch = nStart;
        for (std::size_t nQuoted : kQuotedColumns) {
            if (nColumn == nQuoted && nStart < strLine.size() && strLine[nStart] == '"') {
                const std::size_t nClose = strLine.find('"', nStart + 1);
                if (nClose != std::string_view::npos)
                    nSearch = nClose;
            }
        }
        const std::size_t nComma = strLine.find(',', nSearch);
        if (nComma == std::string_view::npos) {
            visit(strLine.substr(nStart));
            return;
        }
        visit(strLine.substr(nStart, nComma - nStart));
        nStart = nComma + 1;
    }
}

// A log time as a date and time, if it is one: all six parts read and each in
// its range.
bool ReadLocalTime(std::string_view strColumn, plat::DATETIME& time)
{
    LOGTIME logTime{};
    if (!ScanLogTime(strColumn, logTime))
        return false;
    time = {logTime.byYear + 1970, logTime.byMonth + 1, logTime.byDay,
            logTime.byHour,        logTime.byMinute,    logTime.bySecond};
    if (time.nMonth > 12 || time.nDay < 1 || time.nHour > 23 || time.nMinute > 59 || time.nSecond > 59)
        return false;
    const plat::DATETIME nextDay = DateTimeOfMinutes(MinutesOf({time.nYear, time.nMonth, time.nDay, 0, 0, 0}), 0);
    return nextDay.nMonth == time.nMonth && nextDay.nDay == time.nDay;
}

void AppendTime(std::string& strJson, const plat::DATETIME& time, bool bUtc)
{
    char szTime[32];
    strJson.append(szTime, static_cast<std::size_t>(std::snprintf(
                               szTime, sizeof(szTime), "\"%04d-%02d-%02dT%02d:%02d:%02d%s\"", time.nYear,
                               time.nMonth, time.nDay, time.nHour, time.nMinute, time.nSecond, bUtc ? "Z" : "")));
}

}  // namespace

void AppendJsonText(std::string& strJson, std::string_view strText)
{
    // ASCII is the same in every system code page and in UTF-8.
    for (char ch : strText) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            AppendJsonUtf8(strJson, plat::TextToUtf8(strText));
            return;
        }
    }
    AppendJsonUtf8(strJson, strText);
}

CTimelineWriter::~CTimelineWriter()
{
    if (m_pFile != nullptr)
        plat::CloseFile(m_pFile);
}

bool CTimelineWriter::Create(const char* szPath)
{
    m_pFile = plat::CreateNamedFile(szPath);
    if (m_pFile == nullptr)
        return false;
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
    return true;
}

void CTimelineWriter::BeginFile(std::string_view strSource)
{
    m_strSource.clear();
    AppendJsonText(m_strSource, strSource);
}

void CTimelineWriter::WriteLine(uint32_t nLine, std::string_view strLine, const CLogEntry* pRow)
{
    if (m_pFile == nullptr)
        return;
    std::string& strJson = m_strBuffer;

    // The time: as logged, and in UTC by the system's rules; null when the line's
    // time column is no time or the rules cannot convert it.
    const std::size_t nTimeEnd = strLine.find(',');
    plat::DATETIME local{}, utc{};
    const bool bTime = ReadLocalTime(strLine.substr(0, nTimeEnd), local) && plat::LocalTimeToUtc(local, utc);
    strJson += "{\"datetime\":";
    if (bTime)
        AppendTime(strJson, utc, true);
    else
        strJson += "null";
    strJson += ",\"timestamp\":";
    if (bTime)
        {
        static const long long nEpoch = MinutesOf({1970, 1, 1, 0, 0, 0});
        AppendNumber(strJson, ((MinutesOf(utc) - nEpoch) * 60 + utc.nSecond) * 1000000LL);
    }
    else
        strJson += "null";
    strJson += ",\"timestamp_desc\":\"";
    strJson += kTimestampDescription;

    // The message: the virus event's row in a sentence, or the event and where.
    const int32_t nEvent = ReadEventType(strLine);
    HISTORYFIELD aFields[kHistoryFields];
    if (pRow != nullptr)
        GetHistoryFields(*pRow, aFields);
    std::string_view astrColumns[6];
    std::size_t nColumns = 0;
    ForEachColumn(strLine.substr(0, 4096), [&](std::string_view strColumn) {
        if (nColumns < 6)
            astrColumns[nColumns++] = strColumn;
    });
    std::string strMessage;
    if (pRow != nullptr) {
        strMessage = "Virus ";
        strMessage.append(aFields[2].strText).append(" in ").append(aFields[7].strText).append(aFields[1].strText);
        strMessage.append(" on ").append(aFields[5].strText).append(" (").append(aFields[6].strText).append("): ");
        strMessage.append(aFields[4].strText);
    } else {
        strMessage = "Log event " + std::to_string(nEvent);
        if (nColumns > 4 && !astrColumns[4].empty())
            strMessage.append(" on ").append(astrColumns[4]);
        if (nColumns > 5 && !astrColumns[5].empty())
            strMessage.append(" (").append(astrColumns[5]).append(")");
    }
    strJson += "\",\"message\":";
    AppendJsonText(strJson, strMessage);

    strJson += ",\"local_time\":";
    if (bTime) {
        AppendTime(strJson, local, false);
        const long long nOffset = MinutesOf(local) - MinutesOf(utc);
        const long long nMagnitude = nOffset < 0 ? -nOffset : nOffset;
        char szOffset[32];
        strJson.append(szOffset, static_cast<std::size_t>(std::snprintf(szOffset, sizeof(szOffset),
                                                                          ",\"utc_offset\":\"%c%02lld:%02lld\"",
                                                                          nOffset < 0 ? '-' : '+',
                                                                          nMagnitude / 60, nMagnitude % 60)));
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
    bool bFirst = true;
    ForEachColumn(strLine, [&](std::string_view strColumn) {
        if (!bFirst)
            strJson += ',';
        bFirst = false;
        AppendJsonText(strJson, strColumn);
    });
    strJson += "]}\n";
    if (strJson.size() >= kFlushSize)
        Flush();
}

void CTimelineWriter::Flush()
{
    if (!m_strBuffer.empty() &&
        plat::AppendFile(m_pFile, m_strBuffer.data(), m_strBuffer.size()) != static_cast<long long>(m_strBuffer.size()))
        m_bFailed = true;
    m_strBuffer.clear();
}

bool CTimelineWriter::Close()
{
    if (m_pFile == nullptr)
        return !m_bFailed;
    Flush();
    plat::CloseFile(m_pFile);
    m_pFile = nullptr;
    return !m_bFailed;
}
