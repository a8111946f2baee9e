// The export driver: finds the logs folder, empties the history file and feeds
// every matching log, line by line, to the history writer.
#include "app/export_run.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/line_reader.h"
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

}  // namespace

int ExportVirusHistory(int argc, char** argv)
{
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

    // The timeline first: a name that cannot be created leaves the history file as
    // it was.
    CTimelineWriter timeline;
    CTimelineWriter* pTimeline = nullptr;
    if (const char* szTimeline = std::getenv(kTimelineVariable); szTimeline != nullptr && *szTimeline != '\0') {
        if (!timeline.Create(szTimeline)) {
            plat::ShowMessage(kCreateErrorText, kCreateErrorCaption);
            return kExitOutputNotCreatable;
        }
        pTimeline = &timeline;
    }
    plat::File* pOutput = plat::CreateForWrite(kHistoryFileName);
    if (pOutput == nullptr) {
        plat::ShowMessage(kCreateErrorText, kCreateErrorCaption);
        return kExitOutputNotCreatable;
    }
    plat::CloseFile(pOutput);

    // A pattern with a folder part searches that folder; each file is read there.
    const std::string strFoundFolder = strSearch.substr(0, MbsFindLastSeparator(strSearch));
    plat::FindData data{};
    plat::Search* pSearch = plat::FindFirst(strSearch.c_str(), &data);
    int nStatus = kExitSuccess;
    if (pSearch == nullptr)
        return timeline.Close() ? kExitSuccess : kExitIncomplete;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        data.cFileName[plat::kMaxPath - 1] = '\0';
        const int nFileStatus = ReadLogFile(data.cFileName, strFoundFolder.c_str(), EXPORT_MODE_HISTORY, pTimeline);
        if (nFileStatus != kExitSuccess)
            nStatus = nFileStatus;
    } while (nStatus != kExitRowDamaged && plat::FindNext(pSearch, &data));
    plat::CloseSearch(pSearch);
    if (!timeline.Close() && nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
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
