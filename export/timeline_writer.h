// The timeline: one JSON record for every log line read, in UTF-8, one a line
// (JSON Lines), with the line's time in UTC by the system's own time zone rules,
// where the line came from, and every column. Timesketch imports it as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

class CLogEntry;

// The environment variable that names the timeline's file; "-" is standard
// output.
constexpr const char* kTimelineVariable = "VIRUSHIST_TIMELINE";
constexpr const char* kStandardOutputName = "-";

// What became of the timeline's records: all written; some lost, the file cut
// back to its last whole record (or a stream, where nothing can be cut, that
// failed); or a record written in part that could not be cut back.
enum TimelineResult { kTimelineWhole, kTimelineCut, kTimelineDamaged };

class CTimelineWriter {
public:
    CTimelineWriter() = default;
    ~CTimelineWriter();
    CTimelineWriter(const CTimelineWriter&) = delete;
    CTimelineWriter& operator=(const CTimelineWriter&) = delete;

    // Opens the file the user named, creating it when missing, and holds it for the
    // run (plat::OpenHeld); false when it cannot, with *pbHeld true when another
    // run holds it; *pbCreated says whether this open created it. "-" is standard
    // output, which is neither held nor created. Nothing in it is touched until
    // Empty.
    bool Open(const char* szName, bool* pbHeld, bool* pbCreated);
    // Empties the file (not standard output): the start of the run's records.
    bool Empty();
    // In the reader of a split run, which has no file: each piece of whole records
    // goes to pHandOn instead.
    void HandOn(void (*pHandOn)(std::string_view strRecords)) { m_pHandOn = pHandOn; }
    // Reads what every record says of the system read (its name, volume and time
    // zone): before the first line, in the process that reads the system.
    void Start();
    // Appends whole records (the writer of a split run hands on what its reader
    // sent). After a failed write nothing more is written: the file is cut back to
    // its last whole record. False once records are lost.
    bool WriteRecords(std::string_view strRecords);
    // The log file whose lines follow, by its Windows path; szRecovered says how
    // it was recovered ("deleted", "shadow") when the live volume no longer shows
    // it, and pCopy which shadow copy holds it.
    void BeginFile(std::string_view strSource, const char* szRecovered = nullptr,
                   const plat::ShadowCopy* pCopy = nullptr);
    // One line of that file (its 1-based number and its text, without its line
    // end); for a virus event, pRow is the entry parsed for its history row.
    void WriteLine(uint32_t nLine, std::string_view strLine, const CLogEntry* pRow);
    // Writes what is held and closes the file. After a failed write nothing more
    // is written: the file ends at its last whole record, so that every line of it
    // reads as JSON.
    TimelineResult Close();
    // From now on, the records written to the file are counted (a run watched at
    // a terminal shows the count).
    void CountRecords() { m_bCounting = true; }
    unsigned long long RecordsWritten() const { return m_nRecords; }
    // Whether records are still being written: no write has failed.
    bool IsWhole() const { return m_result == kTimelineWhole; }
    // Why the first failed write failed, in the system's words; empty when none did.
    const std::string& WriteError() const { return m_strWriteError; }

private:
    void Flush();
    // Reads a line's time column and converts it: m_local, m_utc, m_nOffset and
    // m_nTimestamp; false when it is no time or cannot be converted.
    bool ConvertTime(std::string_view strColumn);

    plat::File* m_pFile = nullptr;
    void (*m_pHandOn)(std::string_view) = nullptr;
    bool m_bStandardOutput = false;
    std::string m_strBuffer;
    std::string m_strSource;  // the "source" field, as JSON, and "recovered" after it
    std::string m_strSystem;  // the "system" (and "volume") fields, as JSON
    std::string m_strZone;    // the "time_zone" field, as JSON
    TimelineResult m_result = kTimelineWhole;
    std::string m_strWriteError;
    long long m_nLength = -1;  // of a file on disk, as written so far; -1 for a stream
    bool m_bCounting = false;
    unsigned long long m_nRecords = 0;
    std::vector<std::string_view> m_astrColumns;  // of the line being written
    bool m_bTimeKept = false;  // m_local's minute was converted, to m_nOffset
    DATETIME m_local{};
    DATETIME m_utc{};
    long long m_nOffset = 0;     // local time minus UTC, in minutes
    long long m_nTimestamp = 0;  // microseconds since 1970 (UTC)
    long long m_nMinuteTimestamp = 0;  // of m_local's minute
};

// Whether a line's first column reads as a time (six hexadecimal parts, a day that
// exists): what makes a line of a recovered file a log line, and not reused data.
bool IsLogTime(std::string_view strColumn);

// A text of the system's code page appended as a JSON string in UTF-8.
void AppendJsonText(std::string& strJson, std::string_view strText);
