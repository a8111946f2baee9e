// The export run, by its phases: what is asked is read; where the platform
// confines its reading, the run splits into a confined reader and a writer
// (writer.cpp); the process that reads opens the system, finds the logs folder,
// and feeds every matching log, line by line (log_files.cpp), to the history
// writer and the timeline, which write the outputs themselves or hand all on to
// the writer; then recovers the history the live volume lost
// (recover_history.cpp).
#include "app/export_run.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/log_files.h"
#include "app/outputs.h"
#include "app/progress.h"
#include "app/recover_history.h"
#include "app/writer.h"
#include "common/mbstring.h"
#include "export/history_writer.h"
#include "export/timeline_writer.h"
#include "location/data_folder.h"
#include "platform/platform.h"

namespace {

constexpr const char* kDefaultPattern = "*.log";

constexpr const char* kNotInstalledText =
    "KSD is not installed on this computer.  Please be sure that\n"
    "Brimlane AV Server or Brimlane AV Client 7.0 or later is installed\n"
    "and properly running on this machine.";
constexpr const char* kNotInstalledCaption = "KSD not found on machine";

bool FitsInPath(const std::string& strPath)
{
    return strPath.size() < plat::kMaxPath;
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

// The reader's hand-on of rows and records: frames to the writer.
void SendRow(std::string_view strRow)
{
    plat::SendFrame(kFrameRow, strRow);
}

void SendRecords(std::string_view strRecords)
{
    plat::SendFrame(kFrameRecords, strRecords);
}

// Reads the system and exports what it holds: into the outputs themselves (a
// whole run), or handed to the writer (bReader). The run's exit status.
int ReadSystem(int argc, char** argv, const char* szTimeline, bool bReader)
{
    // Opening: the system and its settings, the data folder, what is asked, and
    // (a whole run) the outputs, held.
    if (!plat::OpenSystem())
        return kExitSystemUnreadable;
    const std::string strPattern = argc == 2 ? plat::ArgumentText(argv[1]) : kDefaultPattern;
    if (strPattern.size() >= plat::kMaxPath) {
        SayLine("the pattern is longer than " + std::to_string(plat::kMaxPath - 1) + " characters; nothing was written");
        return kExitPatternTooLong;
    }

    char szFolder[plat::kMaxPath];
    uint32_t dwStatus = GetProductDataFolder(DATA_FOLDER_COMMON, szFolder);
    if (dwStatus == ERR_PRODUCT_NOT_INSTALLED) {
        plat::ShowMessage(kNotInstalledText, kNotInstalledCaption);
        return kExitNotInstalled;
    }
    if (dwStatus != ERROR_SUCCESS && dwStatus != ERR_DATA_FOLDER_NOT_FOUND) {
        SayLine("the product's data folder cannot be had (status " + std::to_string(dwStatus) +
                "); nothing was written");
        return kExitNoDataFolder;
    }

    const std::string strLogsFolder = std::string(szFolder) + "\\logs";
    if (!FitsInPath(strLogsFolder)) {
        SayLine(plat::TextToUtf8(strLogsFolder) + ": longer than " + std::to_string(plat::kMaxPath - 1) +
                " characters; nothing was written");
        return kExitNoDataFolder;
    }
    const std::string strSearch = strLogsFolder + '\\' + strPattern;
    if (!FitsInPath(strSearch)) {
        SayLine("the pattern does not fit in a path with the logs folder (" + std::to_string(strSearch.size()) +
                " characters, " + std::to_string(plat::kMaxPath - 1) + " at most); nothing was written");
        return kExitPatternTooLong;
    }

    bool bRecoverDeleted = false, bRecoverShadows = false;
    if (!ReadRecoverRequest(szTimeline != nullptr, bRecoverDeleted, bRecoverShadows))
        return kExitSystemUnreadable;

    CTimelineWriter timeline;
    CTimelineWriter* const pTimeline = szTimeline != nullptr ? &timeline : nullptr;
    OUTPUTS outputs;
    HandRowsOn(bReader ? SendRow : nullptr);
    if (bReader) {
        timeline.HandOn(SendRecords);
        plat::SendFrame(kFrameOpened, {});
    } else {
        outputs.szTimeline = szTimeline;
        outputs.pTimeline = pTimeline;
        if (const int nRefused = TakeOutputs(outputs); nRefused != kExitSuccess)
            return nRefused;
    }
    if (pTimeline != nullptr)
        timeline.Start();

    // Reading: the logs, then the history the live volume no longer shows. A
    // pattern with a folder part searches that folder; each file is read there.
    const std::string strFolder = strSearch.substr(0, MbsFindLastSeparator(strSearch));
    WatchReading(bReader, plat::TextToUtf8(strSearch), pTimeline);
    const std::vector<std::string> astrRead = FindLogNames(strSearch);
    // A person at a terminal is told why nothing was found.
    NoteLogsFound(astrRead.size(), RunWatched() && astrRead.empty() && !PathExists(strFolder.c_str()));
    int nStatus = ExportLogs(astrRead, strFolder, pTimeline);
    EndSearch();
    if ((bRecoverDeleted || bRecoverShadows) && nStatus != kExitRowDamaged &&
        RecoverHistory(bRecoverDeleted, bRecoverShadows, strSearch, strFolder, timeline, astrRead) != kExitSuccess &&
        nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    // The reader's last records go to the writer; a whole run closes its outputs.
    if (bReader)
        timeline.Close();
    else
        nStatus = CloseOutputs(outputs, nStatus);
    // What reading was refused was said; the run is not whole.
    if (plat::ReadingRefused() && nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    if (!bReader)
        SaySummary();
    return nStatus;
}

// ReadSystem; a reading cut short for want of memory is said, and incomplete,
// never a success.
int ReadSystemSaid(int argc, char** argv, const char* szTimeline, bool bReader)
{
    try {
        return ReadSystem(argc, argv, szTimeline, bReader);
    } catch (const std::bad_alloc&) {
        SayLine("out of memory while reading the system");
        return kExitIncomplete;
    }
}

// The run as this process plays it.
int RunPart(int argc, char** argv, const char* szTimeline)
{
    switch (plat::SplitRun(argc == 2 ? argv[1] : nullptr, AsksForShadowCopies())) {
    case plat::kRunRefused:
        return kExitSystemUnreadable;
    case plat::kRunWriter:
        return WriteWhatIsRead(szTimeline);
    case plat::kRunReader: {
        // Whatever ends the reading, the writer is told how it ended.
        const int nStatus = ReadSystemSaid(argc, argv, szTimeline, true);
        EndReading(nStatus);
        return nStatus;
    }
    case plat::kRunWhole:
        break;
    }
    return ReadSystemSaid(argc, argv, szTimeline, false);
}

}  // namespace

int ExportVirusHistory(int argc, char** argv)
{
    if (plat::AnswerOption(argc, argv))
        return kExitSuccess;

    // What is asked, read from the command line and the environment alone; then,
    // where the platform confines its reading, the split into a confined reader
    // and the writer the user started.
    const char* szTimeline = std::getenv(kTimelineVariable);
    if (szTimeline != nullptr && *szTimeline == '\0')
        szTimeline = nullptr;
    // A person at a terminal watches the run, unless the timeline's records
    // share that screen.
    WatchRun(plat::IsTerminal(false) &&
             !(szTimeline != nullptr && std::strcmp(szTimeline, kStandardOutputName) == 0 && plat::IsTerminal(true)));
    const int nStatus = RunPart(argc, argv, szTimeline);
    EndProgress();
    return nStatus;
}
