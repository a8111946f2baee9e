// What a person at a terminal sees of a run: one line of progress, redrawn a few
// times a second once the run has taken a second, and a closing summary. A run
// whose standard error is no terminal shows neither, and asks no clock.
#pragma once

#include <cstddef>
#include <string>

#include "common/frames.h"

class CTimelineWriter;

// Whether a person watches the run: decided once, by the process the user
// started, before the run splits; its reader inherits the answer (the reader's
// own standard error is no terminal).
void WatchRun(bool bWatched);
bool RunWatched();

// The process that reads: its counts are shown (a whole run, with pTimeline's
// records) or sent to the writer (bReader). strSearch is "folder\pattern" in
// UTF-8.
void WatchReading(bool bReader, const std::string& strSearch, CTimelineWriter* pTimeline);
// The logs the search found; with none, whether the folder searched is missing.
void NoteLogsFound(std::size_t nFound, bool bFolderMissing);
enum LogRead { kLogRead, kLogInPart, kLogNotRead };
void NoteLog(LogRead read);
void NoteRowWritten();
// Every log found was read, or could not be: the reader sends its last counts.
void EndSearch();

// The writer of a split run: its timeline's records are counted, and what its
// reader sent (checked, its search printable) is shown.
void WatchWriting(CTimelineWriter* pTimeline);
void NoteReaderProgress(const PROGRESS& progress);

// At the run's end, once the logs were all read, or could not be: the summary
// (which clears the progress line, as every line does).
void SaySummary();
// Clears the progress line, if one is shown: the last thing a run does.
void EndProgress();
