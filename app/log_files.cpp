// The logs of a search: found in the view of drive C: being read, and each read
// line by line, every virus event a row of the history file, every line but an
// empty one a record of the timeline.
#include "app/log_files.h"

#include <string>
#include <string_view>
#include <vector>

#include "app/exit_status.h"
#include "app/line_reader.h"
#include "app/outputs.h"
#include "app/progress.h"
#include "export/history_writer.h"
#include "export/timeline_writer.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"

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

int ReadLogFile(const char* szFileName, const char* szLogsFolder, int32_t nMode, CTimelineWriter* pTimeline)
{
    CLogEntry entry;
    const std::string strPath = std::string(szLogsFolder) + '\\' + szFileName;
    if (strPath.size() >= plat::kMaxPath) {
        SayLine(plat::TextToUtf8(strPath) + ": not read (its path is longer than " +
                std::to_string(plat::kMaxPath - 1) + " characters)");
        NoteLog(kLogNotRead);
        return kExitIncomplete;
    }
    plat::File* pFile = plat::OpenForRead(strPath.c_str());
    if (pFile == nullptr) {
        SayLine(plat::TextToUtf8(strPath) + ": not read (" + plat::LastErrorText() + ")");
        NoteLog(kLogNotRead);
        return kExitIncomplete;
    }

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
            NoteDamagedRow();
            NoteLog(kLogInPart);
            return kExitRowDamaged;
        }
        if (row == kRowLost)
            NoteLostRow();
        else if (row == kRowWritten)
            NoteRowWritten();
        bComplete = bComplete && row == kRowWritten;
    }
    plat::CloseFile(pFile);
    if (result != CLineReader::kEnd)
        SayLine(plat::TextToUtf8(strPath) + ": read in part (a read failed after line " + std::to_string(nLine) + ")");
    if (reader.WasLineCut())
        SayLine(plat::TextToUtf8(strPath) + ": a line longer than the longest read whole (1 MiB) was cut to it");
    NoteLog(result == CLineReader::kEnd && !reader.WasLineCut() ? kLogRead : kLogInPart);
    return bComplete && result == CLineReader::kEnd && !reader.WasLineCut() ? kExitSuccess
                                                                            : kExitIncomplete;
}
