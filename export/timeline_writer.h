// The timeline: one JSON record for every log line read, in UTF-8, one a line
// (JSON Lines), with the line's time in UTC by the system's own time zone rules,
// where the line came from, and every column. Timesketch imports it as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

class CLogEntry;

// The environment variable that names the timeline's file.
constexpr const char* kTimelineVariable = "VIRUSHIST_TIMELINE";

class CTimelineWriter {
public:
    CTimelineWriter() = default;
    ~CTimelineWriter();
    CTimelineWriter(const CTimelineWriter&) = delete;
    CTimelineWriter& operator=(const CTimelineWriter&) = delete;

    // Creates the file the user named, or empties it; false when it cannot.
    bool Create(const char* szPath);
    // The log file whose lines follow, by its Windows path.
    void BeginFile(std::string_view strSource);
    // One line of that file (its 1-based number and its text, without its line
    // end); for a virus event, pRow is the entry parsed for its history row.
    void WriteLine(uint32_t nLine, std::string_view strLine, const CLogEntry* pRow);
    // Writes what is held and closes the file; false when a write failed, so that
    // records were lost.
    bool Close();

private:
    void Flush();

    plat::File* m_pFile = nullptr;
    std::string m_strBuffer;
    std::string m_strSource;  // the "source" field, as JSON
    std::string m_strSystem;  // the "system" (and "volume") fields, as JSON
    std::string m_strZone;    // the "time_zone" field, as JSON
    bool m_bFailed = false;
};

// A text of the system's code page appended as a JSON string in UTF-8.
void AppendJsonText(std::string& strJson, std::string_view strText);
