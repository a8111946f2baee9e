// The run's two outputs, the history file and the timeline: held for the run's
// whole length, so that a second run in the same folder cannot mix its rows into
// them, and emptied only once the run has everything it needs.
#pragma once

#include <string>

#include "export/timeline_writer.h"
#include "platform/platform.h"

struct OUTPUTS {
    const char* szTimeline = nullptr;      // as the user named it; null for none
    CTimelineWriter* pTimeline = nullptr;  // null for none
    plat::File* pHistory = nullptr;
    bool bHistoryCreated = false;
    bool bTimelineCreated = false;
};

// Opens, holds and empties both outputs: the start of the run's rows and records.
// A run that cannot have both touches neither, and gets kExitOutputNotCreatable,
// said.
int TakeOutputs(OUTPUTS& outputs);
// Closes both outputs at the run's end, saying a timeline cut back and the rows not
// written: the run's status nStatus, made incomplete (4) or damaged (6) by what
// became of the timeline.
int CloseOutputs(OUTPUTS& outputs, int nStatus);

// One line on standard error: "virushist: ", the system read, then strWhat.
void SayLine(const std::string& strWhat);

// A row that could not be written: the first is said with why (the system's last
// error), every one counted; SayLostRows says the count at the run's end.
void NoteLostRow();
// A row written in part that could not be cut back: said at once (the run ends).
void NoteDamagedRow();
void SayLostRows();
// A timeline whose records were lost after a failed write, said with strWhy, the
// system's reason.
void SayTimelineCut(const char* szTimeline, const std::string& strWhy);
