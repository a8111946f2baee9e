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

// An output file the run cannot have: held by another run (said in one line on
// standard error), or not creatable (the message box).
int RefuseOutput(const char* szName, bool bHeld)
{
    if (bHeld)
        std::fprintf(stderr, "%s: another run of virushist is writing it; this one wrote nothing\n", szName);
    else
        plat::ShowMessage(kCreateErrorText, kCreateErrorCaption);
    return kExitOutputNotCreatable;
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

// What VIRUSHIST_RECOVER asks for: "deleted", "shadows", or both, joined by a
// comma. False, with the line said, when the request cannot be met: it is not
// understood, there is no timeline to write to, or no image to recover from.
bool ReadRecoverRequest(bool bTimeline, bool& bDeleted, bool& bShadows)
{
    bDeleted = bShadows = false;
    const char* const szRecover = std::getenv(kRecoverVariable);
    if (szRecover == nullptr || *szRecover == '\0')
        return true;
    std::string strWhy;
    const std::string strValue = szRecover;
    for (std::size_t nStart = 0; nStart <= strValue.size() && strWhy.empty();) {
        const std::size_t nEnd = std::min(strValue.find(',', nStart), strValue.size());
        const std::string strWord = strValue.substr(nStart, nEnd - nStart);
        if (strWord == "deleted")
            bDeleted = true;
        else if (strWord == "shadows")
            bShadows = true;
        else
            strWhy = "\"" + strWord + "\" is neither deleted nor shadows";
        nStart = nEnd + 1;
    }
    if (strWhy.empty() && !bTimeline)
        strWhy = "recovered history is written to the timeline alone: name one with VIRUSHIST_TIMELINE";
    if (strWhy.empty() && plat::CanRecoverHistory(strWhy))
        return true;
    std::fprintf(stderr, "%s=%s: %s\n", kRecoverVariable, szRecover, strWhy.c_str());
    return false;
}

// Whether a deleted file's name is one of the logs read live (the live file wins);
// a lost first letter ("?") matches any.
bool ReadLive(const std::string& strName, const std::vector<std::string>& astrRead)
{
    auto upper = [](char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch; };
    for (const std::string& strLive : astrRead) {
        bool bSame = strLive.size() == strName.size();
        for (std::size_t i = 0; bSame && i < strName.size(); ++i)
            bSame = upper(strLive[i]) == upper(strName[i]) || (i == 0 && strName[0] == '?');
        if (bSame)
            return true;
    }
    return false;
}

// A recovered line into the timeline alone: a virus event with its row's fields.
void WriteRecoveredLine(CTimelineWriter& timeline, CLogEntry& entry, uint32_t nLine, std::string_view strLine)
{
    const bool bVirusEvent = ReadEventType(strLine) == kVirusEvent;
    if (bVirusEvent)
        entry.ParseLine(strLine, CLogEntry::kRowColumns);
    timeline.WriteLine(nLine, strLine, bVirusEvent ? &entry : nullptr);
}

// The logs the live volume no longer shows, deleted in the folder searched, into
// the timeline alone. Their clusters may hold other data since: a line whose first
// column is no time is no log line, and is skipped. Each file is reported on
// standard error; aRecovered gets those read.
void RecoverDeletedLogs(const std::string& strSearch, const std::string& strFolder, CTimelineWriter& timeline,
                        const std::vector<std::string>& astrRead, std::vector<plat::DeletedFile>& aRecovered)
{
    std::vector<plat::DeletedFile> aFiles;
    plat::FindDeleted(strSearch.c_str(), aFiles);
    for (const plat::DeletedFile& file : aFiles) {
        if (ReadLive(file.strName, astrRead))
            continue;
        const std::string strPath = strFolder + '\\' + file.strName;
        const std::string strShown = plat::TextToUtf8(strPath);
        plat::File* pFile = plat::OpenDeleted(file);
        if (pFile == nullptr) {
            std::fprintf(stderr, "%s: deleted; its data cannot be read any more\n", strShown.c_str());
            continue;
        }
        aRecovered.push_back(file);
        timeline.BeginFile(strPath, "deleted");
        CLogEntry entry;
        CLineReader reader(pFile);
        std::string_view strLine;
        uint32_t nLine = 0, nKept = 0, nSkipped = 0;
        while (reader.ReadLine(strLine) == CLineReader::kLine) {
            ++nLine;
            if (strLine.empty())
                continue;
            if (!IsLogTime(strLine.substr(0, strLine.find(',')))) {
                ++nSkipped;
                continue;
            }
            WriteRecoveredLine(timeline, entry, nLine, strLine);
            ++nKept;
        }
        plat::CloseFile(pFile);
        std::fprintf(stderr, "%s: recovered (deleted): %u lines kept, %u skipped\n", strShown.c_str(), nKept, nSkipped);
    }
}

// A version of a log whose lines are already in the timeline, read line for line
// beside a shadow copy's version: the live file, a deleted one recovered (whose
// lines were written only where they read as log lines), or a newer copy's.
struct WrittenVersion {
    plat::File* pFile;
    bool bDeleted;
    std::unique_ptr<CLineReader> pReader;
    bool bEnded = false;
};

// Opens the log at strPath in the versions already written: the live volume's, a
// deleted one recovered, and those of the copies newer than aCopies[nCopy].
std::vector<WrittenVersion> OpenWrittenVersions(const std::string& strPath, const std::string& strName,
                                                const std::vector<plat::ShadowCopy>& aCopies, std::size_t nCopy,
                                                const std::vector<plat::DeletedFile>& aRecovered)
{
    std::vector<WrittenVersion> aVersions;
    auto keep = [&aVersions](plat::File* pFile, bool bDeleted) {
        if (pFile != nullptr)
            aVersions.push_back({pFile, bDeleted, std::make_unique<CLineReader>(pFile)});
    };
    plat::ReadShadowCopy(0);
    keep(plat::OpenForRead(strPath.c_str()), false);
    for (const plat::DeletedFile& file : aRecovered)
        if (file.strName == strName)
            keep(plat::OpenDeleted(file), true);
    for (std::size_t nNewer = 0; nNewer < nCopy; ++nNewer) {
        plat::ReadShadowCopy(aCopies[nNewer].nNumber);
        keep(plat::OpenForRead(strPath.c_str()), false);
    }
    plat::ReadShadowCopy(aCopies[nCopy].nNumber);
    return aVersions;
}

// Whether the next line of a shadow copy's log is the same line, byte for byte, of
// one of the versions already written; each version is read on by one line.
bool AlreadyWritten(std::vector<WrittenVersion>& aVersions, std::string_view strLine)
{
    bool bWritten = false;
    for (WrittenVersion& version : aVersions) {
        std::string_view strOther;
        if (version.bEnded || version.pReader->ReadLine(strOther) != CLineReader::kLine) {
            version.bEnded = true;
            continue;
        }
        bWritten = bWritten || (strOther == strLine &&
                                (!version.bDeleted || IsLogTime(strOther.substr(0, strOther.find(',')))));
    }
    return bWritten;
}

// The logs of each shadow copy, newest first, into the timeline alone: each line
// that is not already there (the same line of the same file, byte for byte, in the
// live volume, a deleted log recovered or a newer copy). A copy that cannot be read
// is named on standard error, as is each copy read; kExitIncomplete when a copy or
// a log in one could not be read.
int RecoverShadowLogs(const std::string& strSearch, const std::string& strFolder, CTimelineWriter& timeline,
                      const std::vector<plat::DeletedFile>& aRecovered)
{
    std::vector<plat::ShadowCopy> aCopies;
    std::vector<std::string> astrSkipped;
    plat::FindShadowCopies(aCopies, astrSkipped);
    int nStatus = astrSkipped.empty() ? kExitSuccess : kExitIncomplete;
    for (const std::string& strSkipped : astrSkipped)
        std::fprintf(stderr, "%s\n", strSkipped.c_str());
    const std::string strSystem = plat::SystemName();
    for (std::size_t nCopy = 0; nCopy < aCopies.size(); ++nCopy) {
        const plat::ShadowCopy& copy = aCopies[nCopy];
        plat::ReadShadowCopy(copy.nNumber);
        const std::vector<std::string> astrNames = FindLogNames(strSearch);
        uint32_t nNew = 0, nWritten = 0;
        for (const std::string& strName : astrNames) {
            const std::string strPath = strFolder + '\\' + strName;
            std::vector<WrittenVersion> aVersions = OpenWrittenVersions(strPath, strName, aCopies, nCopy, aRecovered);
            plat::File* pFile = plat::OpenForRead(strPath.c_str());
            CLineReader::Result result = CLineReader::kFailed;
            if (pFile != nullptr) {
                timeline.BeginFile(strPath, "shadow", &copy);
                CLogEntry entry;
                CLineReader reader(pFile);
                std::string_view strLine;
                uint32_t nLine = 0;
                while ((result = reader.ReadLine(strLine)) == CLineReader::kLine) {
                    ++nLine;
                    const bool bWritten = AlreadyWritten(aVersions, strLine);
                    if (strLine.empty())
                        continue;
                    if (bWritten) {
                        ++nWritten;
                        continue;
                    }
                    WriteRecoveredLine(timeline, entry, nLine, strLine);
                    ++nNew;
                }
                plat::CloseFile(pFile);
            }
            for (WrittenVersion& version : aVersions)
                plat::CloseFile(version.pFile);
            if (result != CLineReader::kEnd) {
                std::fprintf(stderr, "%s: shadow copy %u: %s cannot be read to its end\n", strSystem.c_str(),
                             copy.nNumber, plat::TextToUtf8(strPath).c_str());
                nStatus = kExitIncomplete;
            }
        }
        std::fprintf(stderr, "%s: recovered (shadow copy %u): %zu logs, %u lines new, %u already written\n",
                     strSystem.c_str(), copy.nNumber, astrNames.size(), nNew, nWritten);
    }
    plat::ReadShadowCopy(0);
    return nStatus;
}

}  // namespace

int ExportVirusHistory(int argc, char** argv)
{
    if (plat::AnswerOption(argc, argv))
        return kExitSuccess;
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

    // The history file, and the timeline when one is named, are held for the whole
    // run: a second run in the same folder would mix its rows into them. Both are
    // held before either is emptied, so a run that cannot have them touches nothing.
    CTimelineWriter timeline;
    CTimelineWriter* pTimeline = nullptr;
    bool bHeld = false;
    if (bTimeline) {
        if (!timeline.Open(szTimeline, &bHeld))
            return RefuseOutput(szTimeline, bHeld);
        pTimeline = &timeline;
    }
    plat::File* pOutput = plat::OpenHeld(kHistoryFileName, false, &bHeld);
    if (pOutput == nullptr)
        return RefuseOutput(kHistoryFileName, bHeld);
    if (!plat::TruncateFile(pOutput, 0) || (pTimeline != nullptr && !timeline.Empty())) {
        plat::CloseFile(pOutput);
        return RefuseOutput(kHistoryFileName, false);
    }
    // A pattern with a folder part searches that folder; each file is read there.
    const std::string strFolder = strSearch.substr(0, MbsFindLastSeparator(strSearch));
    const std::vector<std::string> astrRead = FindLogNames(strSearch);
    int nStatus = ExportLogs(astrRead, strFolder, pTimeline);
    std::vector<plat::DeletedFile> aRecovered;
    if (bRecoverDeleted && nStatus != kExitRowDamaged)
        RecoverDeletedLogs(strSearch, strFolder, timeline, astrRead, aRecovered);
    if (bRecoverShadows && nStatus != kExitRowDamaged &&
        RecoverShadowLogs(strSearch, strFolder, timeline, aRecovered) != kExitSuccess && nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    if (pTimeline != nullptr && !timeline.Close() && nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    plat::CloseFile(pOutput);
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
