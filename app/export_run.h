// The export run: from the command line to the last row of the history file.
#pragma once

#include <cstdint>

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
};

// Runs the export with the program's arguments and returns its exit status.
int ExportVirusHistory(int argc, char** argv);

// Reads one log file, szLogsFolder "\" szFileName, and hands each of its lines to
// the history writer. Returns false when the file could not be read to its end or
// one of its rows could not be written.
bool ReadLogFile(const char* szFileName, const char* szLogsFolder, int32_t nMode);
