// Recovering the history a disk image's live volume no longer shows: its deleted
// logs and the logs of its shadow copies, into the timeline alone, each line once.
#include "app/recover_history.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/line_reader.h"
#include "app/log_files.h"
#include "app/outputs.h"
#include "export/timeline_writer.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"

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
    SayLine(std::string(kRecoverVariable) + "=" + szRecover + ": " + strWhy);
    return false;
}

bool AsksForShadowCopies()
{
    const char* const szRecover = std::getenv(kRecoverVariable);
    const std::string strValue = szRecover != nullptr ? szRecover : "";
    for (std::size_t nStart = 0; nStart <= strValue.size();) {
        const std::size_t nEnd = std::min(strValue.find(',', nStart), strValue.size());
        if (strValue.compare(nStart, nEnd - nStart, "shadows") == 0)
            return true;
        nStart = nEnd + 1;
    }
    return false;
}

namespace {

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
    if (std::none_of(aFiles.begin(), aFiles.end(),
                     [&](const plat::DeletedFile& file) { return !ReadLive(file.strName, astrRead); }))
        SayLine(std::string(kRecoverVariable) + "=deleted: the logs folder holds no deleted logs");
    for (const plat::DeletedFile& file : aFiles) {
        if (ReadLive(file.strName, astrRead))
            continue;
        const std::string strPath = strFolder + '\\' + file.strName;
        const std::string strShown = plat::TextToUtf8(strPath);
        plat::File* pFile = plat::OpenDeleted(file);
        if (pFile == nullptr) {
            SayLine(strShown + ": deleted; its data cannot be read any more");
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
        SayLine(strShown + ": recovered (deleted): " + std::to_string(nKept) + " lines kept, " +
                std::to_string(nSkipped) + " skipped");
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
        SayLine(strSkipped);
    if (aCopies.empty() && astrSkipped.empty())
        SayLine(std::string(kRecoverVariable) + "=shadows: the Windows volume holds no shadow copies");
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
                SayLine("shadow copy " + std::to_string(copy.nNumber) + ": " + plat::TextToUtf8(strPath) +
                        " cannot be read to its end");
                nStatus = kExitIncomplete;
            }
        }
        SayLine("recovered (shadow copy " + std::to_string(copy.nNumber) + "): " + std::to_string(astrNames.size()) +
                " logs, " + std::to_string(nNew) + " lines new, " + std::to_string(nWritten) + " already written");
    }
    plat::ReadShadowCopy(0);
    return nStatus;
}

}  // namespace

int RecoverHistory(bool bDeleted, bool bShadows, const std::string& strSearch, const std::string& strFolder,
                   CTimelineWriter& timeline, const std::vector<std::string>& astrRead)
{
    std::vector<plat::DeletedFile> aRecovered;
    if (bDeleted)
        RecoverDeletedLogs(strSearch, strFolder, timeline, astrRead, aRecovered);
    return bShadows ? RecoverShadowLogs(strSearch, strFolder, timeline, aRecovered) : kExitSuccess;
}
