// The logs of a search, found and read line by line into the history file and
// the timeline: what the run does with each log, and what recovering history
// finds its logs with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t EXPORT_MODE_HISTORY = 2;

// The files (not folders) a search ("folder\pattern") finds in the view of drive C:
// being read, in its order.
std::vector<std::string> FindLogNames(const std::string& strSearch);

class CTimelineWriter;

// Reads one log file, szLogsFolder "\" szFileName, and hands each of its lines to
// the history writer, and to the timeline when there is one. Returns what the file
// makes of the run: kExitSuccess; kExitIncomplete when it could not be read to its
// end or a row of it was lost; or kExitRowDamaged, after which nothing more is
// written.
int ReadLogFile(const char* szFileName, const char* szLogsFolder, int32_t nMode,
                CTimelineWriter* pTimeline = nullptr);
