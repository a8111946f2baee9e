// Recovering the history a disk image's live volume no longer shows (deleted
// logs, the logs of its shadow copies) into the timeline alone.
#pragma once

#include <string>
#include <vector>

class CTimelineWriter;

// The environment variable that asks for it: "deleted", "shadows", or both,
// joined by commas, in any order (a word said twice counts once); empty is unset.
constexpr const char* kRecoverVariable = "VIRUSHIST_RECOVER";

// What VIRUSHIST_RECOVER asks for. False, with the line said, when the request
// cannot be met: it is not understood, there is no timeline to write to, or no
// image to recover from.
bool ReadRecoverRequest(bool bTimeline, bool& bDeleted, bool& bShadows);
// Whether VIRUSHIST_RECOVER names shadow copies, read as text alone: what the run
// loads before it reads the system.
bool AsksForShadowCopies();

// The deleted logs of the folder searched (strSearch, "folder\pattern"), then the
// logs of each shadow copy, newest first, into the timeline: each line that is not
// already there. astrRead names the logs read live. Each file and copy is said on
// standard error. kExitIncomplete when a copy or a log in one could not be read.
int RecoverHistory(bool bDeleted, bool bShadows, const std::string& strSearch, const std::string& strFolder,
                   CTimelineWriter& timeline, const std::vector<std::string>& astrRead);
