// Holding, emptying and releasing the run's outputs; the lines that say why they
// cannot be had.
#include "app/outputs.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "app/exit_status.h"
#include "export/history_writer.h"

namespace {

constexpr const char* kCreateErrorText = "Error: Unable to create output file.  Program terminating.";
constexpr const char* kCreateErrorCaption = "Unable to Create File";

// An output file the run cannot have: held by another run, or not creatable (the
// message box, then why); said with strWhy, the system's reason, captured when it
// failed.
int RefuseOutput(const char* szName, bool bHeld, const std::string& strWhy)
{
    if (bHeld) {
        SayLine(std::string(szName) + ": another run of virushist is writing it; this one wrote nothing");
    } else {
        plat::ShowMessage(kCreateErrorText, kCreateErrorCaption);
        SayLine(std::string(szName) + ": cannot be created or written (" + strWhy + "); nothing was written");
    }
    return kExitOutputNotCreatable;
}

}  // namespace

void SayLine(const std::string& strWhat)
{
    plat::WriteErrorLine("virushist: " + plat::SystemName() + ": " + strWhat);
}

namespace {

unsigned long g_nLostRows = 0;

}  // namespace

void NoteLostRow()
{
    if (g_nLostRows++ == 0)
        SayLine(std::string(kHistoryFileName) + ": a row could not be written (" + plat::LastErrorText() +
                "); the rows not written are counted at the end");
}

void NoteDamagedRow()
{
    SayLine(std::string(kHistoryFileName) + ": a row was written in part and could not be cut back (" +
            plat::LastErrorText() + "); the file ends in that part row, and nothing more was written");
}

void SayLostRows()
{
    if (g_nLostRows != 0)
        SayLine(std::string(kHistoryFileName) + ": " + std::to_string(g_nLostRows) +
                (g_nLostRows == 1 ? " row was" : " rows were") + " not written");
    g_nLostRows = 0;
}

void SayTimelineCut(const char* szTimeline, const std::string& strWhy)
{
    SayLine(std::string(std::strcmp(szTimeline, kStandardOutputName) == 0 ? "the timeline on standard output"
                                                                          : szTimeline) +
            ": a write failed (" + strWhy + "); the records after it were lost, and it ends at its last whole record");
}

namespace {

// Whether the timeline's name names the history file itself ("VirusHist.csv",
// "./virushist.csv"): names compare as Windows compares them.
bool NamesTheHistoryFile(std::string_view strName)
{
    while (strName.size() > 2 && strName[0] == '.' && (strName[1] == '/' || strName[1] == '\\'))
        strName.remove_prefix(2);
    const std::string_view strHistory = kHistoryFileName;
    return strName.size() == strHistory.size() &&
           std::equal(strName.begin(), strName.end(), strHistory.begin(), [](char a, char b) {
               const auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch; };
               return lower(a) == lower(b);
           });
}

// Lets the outputs go untouched: closed, and removed where this run created them.
void ReleaseOutputs(OUTPUTS& outputs)
{
    if (outputs.pHistory != nullptr) {
        plat::CloseFile(outputs.pHistory);
        outputs.pHistory = nullptr;
        if (outputs.bHistoryCreated)
            plat::RemoveFile(kHistoryFileName, false);
    }
    if (outputs.pTimeline != nullptr) {
        outputs.pTimeline->Close();
        if (outputs.bTimelineCreated)
            plat::RemoveFile(outputs.szTimeline, true);
    }
}

// Opens and holds both outputs, emptying neither; a run that cannot have both
// touches neither.
int HoldOutputs(OUTPUTS& outputs)
{
    if (outputs.pTimeline != nullptr && NamesTheHistoryFile(outputs.szTimeline)) {
        SayLine(std::string(outputs.szTimeline) + ": the timeline cannot be the history file; nothing was written");
        return kExitOutputNotCreatable;
    }
    bool bHeld = false;
    if (outputs.pTimeline != nullptr &&
        !outputs.pTimeline->Open(outputs.szTimeline, &bHeld, &outputs.bTimelineCreated))
        return RefuseOutput(outputs.szTimeline, bHeld, plat::LastErrorText());
    outputs.pHistory = plat::OpenHeld(kHistoryFileName, false, &bHeld, &outputs.bHistoryCreated);
    // Only a file on disk can be emptied: it is checked before either is emptied.
    std::string strWhy;
    if (outputs.pHistory == nullptr)
        strWhy = plat::LastErrorText();
    else if (!plat::IsDiskFile(outputs.pHistory))
        strWhy = "not a file on disk";
    if (strWhy.empty())
        return kExitSuccess;
    ReleaseOutputs(outputs);
    return RefuseOutput(kHistoryFileName, bHeld, strWhy);
}

// Empties both outputs, or lets both go.
int EmptyOutputs(OUTPUTS& outputs)
{
    const bool bHistoryEmptied = plat::TruncateFile(outputs.pHistory, 0);
    if (bHistoryEmptied && (outputs.pTimeline == nullptr || outputs.pTimeline->Empty()))
        return kExitSuccess;
    // Said of the one that could not be emptied.
    const std::string strWhy = plat::LastErrorText();
    const char* const szName = bHistoryEmptied ? outputs.szTimeline : kHistoryFileName;
    ReleaseOutputs(outputs);
    return RefuseOutput(szName, false, strWhy);
}

}  // namespace

int CloseOutputs(OUTPUTS& outputs, int nStatus)
{
    if (outputs.pTimeline != nullptr) {
        const TimelineResult result = outputs.pTimeline->Close();
        if (result != kTimelineWhole)
            SayTimelineCut(outputs.szTimeline, outputs.pTimeline->WriteError());
        if (result == kTimelineDamaged)
            nStatus = kExitRowDamaged;
        else if (result == kTimelineCut && nStatus == kExitSuccess)
            nStatus = kExitIncomplete;
    }
    if (outputs.pHistory != nullptr)
        plat::CloseFile(outputs.pHistory);
    outputs.pHistory = nullptr;
    SayLostRows();
    return nStatus;
}

int TakeOutputs(OUTPUTS& outputs)
{
    const int nRefused = HoldOutputs(outputs);
    return nRefused != kExitSuccess ? nRefused : EmptyOutputs(outputs);
}
