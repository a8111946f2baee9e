// The export run: from the command line to the last row of the history file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t EXPORT_MODE_HISTORY = 2;

// The process's exit status: what the run came to.
enum ExitStatus {
    kExitSuccess = 0,            // every row was written (possibly none)
    kExitNotInstalled = 1,       // the product is not installed; nothing touched
    kExitOutputNotCreatable = 2, // VirusHist.csv could not be created; no log read
    kExitNoDataFolder = 3,       // the data folder could not be had, or its logs
                                 // folder path is too long; nothing touched
    kExitIncomplete = 4,         // the run ended, but rows were lost or a log file
                                 // could not be read whole
    kExitPatternTooLong = 5,     // the pattern does not fit in a path; nothing touched
    kExitRowDamaged = 6,         // a row or timeline record was written in part and
                                 // could not be cut back: the file ends in it;
                                 // nothing after it written
    kExitSystemUnreadable = 7,   // the system read from outside (a mounted drive's
                                 // hives) cannot be read, or VIRUSHIST_RECOVER cannot
                                 // be met; said on standard error; nothing touched
};

// Runs the export with the program's arguments and returns its exit status.
int ExportVirusHistory(int argc, char** argv);


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
