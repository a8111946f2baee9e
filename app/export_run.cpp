// The export driver: finds the logs folder, empties the history file and feeds
// every matching log, line by line, to the history writer.
#include "app/export_run.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/line_reader.h"
#include "app/recover_history.h"
#include "export/history_writer.h"
#include "export/timeline_writer.h"
#include "location/data_folder.h"
#include "common/mbstring.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

constexpr const char* kDefaultPattern = "*.log";

constexpr const char* kNotInstalledText =
    "KSD is not installed on this computer.  Please be sure that\n"
    "Brimlane AV Server or Brimlane AV Client 7.0 or later is installed\n"
    "and properly running on this machine.";
constexpr const char* kNotInstalledCaption = "KSD not found on machine";
constexpr const char* kCreateErrorText = "Error: Unable to create output file.  Program terminating.";
constexpr const char* kCreateErrorCaption = "Unable to Create File";

bool FitsInPath(const std::string& strPath)
{
    return strPath.size() < plat::kMaxPath;
}

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

// The run's outputs: the history file and the timeline, held for the run's whole
// length, so that a second run in the same folder cannot mix its rows into them.
struct OUTPUTS {
    const char* szTimeline = nullptr;
    CTimelineWriter* pTimeline = nullptr;
    plat::File* pHistory = nullptr;
    bool bHistoryCreated = false;
    bool bTimelineCreated = false;
};

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

// Empties both outputs: the start of the run's rows and records.
int EmptyOutputs(OUTPUTS& outputs)
{
    if (plat::TruncateFile(outputs.pHistory, 0) && (outputs.pTimeline == nullptr || outputs.pTimeline->Empty()))
        return kExitSuccess;
    const std::string strWhy = plat::LastErrorText();
    ReleaseOutputs(outputs);
    return RefuseOutput(kHistoryFileName, false, strWhy);
}

// Each log found, read into the history file (and the timeline) from strFolder;
// the run's exit status. A damaged row ends the walk.
int ExportLogs(const std::vector<std::string>& astrNames, const std::string& strFolder, CTimelineWriter* pTimeline)
{
    int nStatus = kExitSuccess;
    for (const std::string& strName : astrNames) {
        const int nFileStatus = ReadLogFile(strName.c_str(), strFolder.c_str(), EXPORT_MODE_HISTORY, pTimeline);
        if (nFileStatus != kExitSuccess)
            nStatus = nFileStatus;
        if (nStatus == kExitRowDamaged)
            break;
    }
    return nStatus;
}

}  // namespace

void SayLine(const std::string& strWhat)
{
    std::fprintf(stderr, "virushist: %s: %s\n", plat::SystemName().c_str(), strWhat.c_str());
}

// The files (not folders) a search finds in the view of drive C: being read, in
// its order.
std::vector<std::string> FindLogNames(const std::string& strSearch)
{
    std::vector<std::string> astrNames;
    plat::FindData data{};
    plat::Search* pSearch = plat::FindFirst(strSearch.c_str(), &data);
    if (pSearch == nullptr)
        return astrNames;
    do {
        data.cFileName[plat::kMaxPath - 1] = '\0';
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            astrNames.push_back(data.cFileName);
    } while (plat::FindNext(pSearch, &data));
    plat::CloseSearch(pSearch);
    return astrNames;
}

int ExportVirusHistory(int argc, char** argv)
{
    if (plat::AnswerOption(argc, argv))
        return kExitSuccess;

    // Opening: the system and its settings, the data folder, what is asked, and
    // the outputs, held.
    if (!plat::OpenSystem())
        return kExitSystemUnreadable;
    const std::string strPattern = argc == 2 ? plat::ArgumentText(argv[1]) : kDefaultPattern;
    if (strPattern.size() >= plat::kMaxPath)
        return kExitPatternTooLong;

    char szFolder[plat::kMaxPath];
    uint32_t dwStatus = GetProductDataFolder(DATA_FOLDER_COMMON, szFolder);
    if (dwStatus == ERR_PRODUCT_NOT_INSTALLED) {
        plat::ShowMessage(kNotInstalledText, kNotInstalledCaption);
        return kExitNotInstalled;
    }
    if (dwStatus != ERROR_SUCCESS && dwStatus != ERR_DATA_FOLDER_NOT_FOUND)
        return kExitNoDataFolder;

    const std::string strLogsFolder = std::string(szFolder) + "\\logs";
    if (!FitsInPath(strLogsFolder))
        return kExitNoDataFolder;
    const std::string strSearch = strLogsFolder + '\\' + strPattern;
    if (!FitsInPath(strSearch))
        return kExitPatternTooLong;

    const char* const szTimeline = std::getenv(kTimelineVariable);
    const bool bTimeline = szTimeline != nullptr && *szTimeline != '\0';
    bool bRecoverDeleted = false, bRecoverShadows = false;
    if (!ReadRecoverRequest(bTimeline, bRecoverDeleted, bRecoverShadows))
        return kExitSystemUnreadable;

    CTimelineWriter timeline;
    CTimelineWriter* const pTimeline = bTimeline ? &timeline : nullptr;
    OUTPUTS outputs;
    outputs.szTimeline = szTimeline;
    outputs.pTimeline = pTimeline;
    if (const int nRefused = HoldOutputs(outputs); nRefused != kExitSuccess)
        return nRefused;

    // Confining: from here on the process reads the evidence and writes its two
    // outputs, and nothing else.
    if (!plat::Confine(kHistoryFileName, bRecoverShadows)) {
        ReleaseOutputs(outputs);
        return kExitSystemUnreadable;
    }
    if (const int nRefused = EmptyOutputs(outputs); nRefused != kExitSuccess)
        return nRefused;

    // Reading: the logs, then the history the live volume no longer shows. A
    // pattern with a folder part searches that folder; each file is read there.
    const std::string strFolder = strSearch.substr(0, MbsFindLastSeparator(strSearch));
    const std::vector<std::string> astrRead = FindLogNames(strSearch);
    int nStatus = ExportLogs(astrRead, strFolder, pTimeline);
    if ((bRecoverDeleted || bRecoverShadows) && nStatus != kExitRowDamaged &&
        RecoverHistory(bRecoverDeleted, bRecoverShadows, strSearch, strFolder, timeline, astrRead) != kExitSuccess &&
        nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    if (pTimeline != nullptr) {
        const TimelineResult result = timeline.Close();
        if (result == kTimelineDamaged)
            nStatus = kExitRowDamaged;
        else if (result == kTimelineCut && nStatus == kExitSuccess)
            nStatus = kExitIncomplete;
    }
    plat::CloseFile(outputs.pHistory);
    return nStatus;
}

int ReadLogFile(const char* szFileName, const char* szLogsFolder, int32_t nMode, CTimelineWriter* pTimeline)
{
    CLogEntry entry;
    const std::string strPath = std::string(szLogsFolder) + '\\' + szFileName;
    if (!FitsInPath(strPath))
        return kExitIncomplete;
    plat::File* pFile = plat::OpenForRead(strPath.c_str());
    if (pFile == nullptr)
        return kExitIncomplete;

    if (pTimeline != nullptr)
        pTimeline->BeginFile(strPath);

    bool bComplete = true;
    CLineReader reader(pFile);
    std::string_view strLine;
    CLineReader::Result result;
    uint32_t nLine = 0;
    while ((result = reader.ReadLine(strLine)) == CLineReader::kLine) {
        ++nLine;
        if (nMode != EXPORT_MODE_HISTORY) {
            entry.ParseLine(strLine);
            continue;
        }
        // Every text of a row comes from its own line, and only a virus event makes
        // one: the history export parses no other line, and of a virus event only
        // the columns its row shows. The timeline has every line but empty ones.
        const bool bVirusEvent = ReadEventType(strLine) == kVirusEvent;
        if (bVirusEvent)
            entry.ParseLine(strLine, CLogEntry::kRowColumns);
        if (pTimeline != nullptr && !strLine.empty())
            pTimeline->WriteLine(nLine, strLine, bVirusEvent ? &entry : nullptr);
        if (!bVirusEvent)
            continue;
        const RowResult row = WriteHistoryRow(entry);
        if (row == kRowDamaged) {
            // A row after a damaged one would be joined to its part: nothing more
            // is written.
            plat::CloseFile(pFile);
            return kExitRowDamaged;
        }
        bComplete = bComplete && row == kRowWritten;
    }
    plat::CloseFile(pFile);
    return bComplete && result == CLineReader::kEnd && !reader.WasLineCut() ? kExitSuccess
                                                                            : kExitIncomplete;
}
