// Progress and the closing summary on a terminal. The process that reads counts
// the logs and their bytes; a whole run shows them with its rows and records, a
// reader sends them to its writer, which shows them with the rows and records it
// wrote. Clocks are asked per read of a log (64 KiB) and per log, and only in a
// watched run.
#include "app/progress.h"

#include <cstdio>

#include "app/line_reader.h"
#include "app/outputs.h"
#include "export/timeline_writer.h"
#include "platform/platform.h"

namespace {

constexpr long long kFirstShownAfter = 1000;  // milliseconds into the run
constexpr long long kShownEvery = 250;

struct WATCH {
    bool bWatched = false;
    bool bReader = false;
    long long nStart = 0;
    long long nLastShown = -1;
    PROGRESS reading;  // the reader's, or this process's own
    unsigned long long nRows = 0;
    const CTimelineWriter* pTimeline = nullptr;
};
WATCH g_watch;

std::string Count(unsigned long long nCount, const char* szOne, const char* szMany)
{
    return std::to_string(nCount) + " " + (nCount == 1 ? szOne : szMany);
}

std::string ProgressLine()
{
    const PROGRESS& reading = g_watch.reading;
    const unsigned long long nDone =
        static_cast<unsigned long long>(reading.nLogsRead) + reading.nLogsInPart + reading.nLogsNotRead;
    char szBytes[32];
    std::snprintf(szBytes, sizeof(szBytes), "%.1f MiB", static_cast<double>(reading.nBytesRead) / (1 << 20));
    std::string strLine = "virushist: " + std::to_string(nDone) + " of " +
                          Count(reading.nLogsFound, "log", "logs") + ", " + szBytes + " read, " +
                          Count(g_watch.nRows, "row", "rows");
    if (g_watch.pTimeline != nullptr)
        strLine += ", " + Count(g_watch.pTimeline->RecordsWritten(), "timeline record", "timeline records");
    return strLine;
}

// Shows (or sends) the counts when a second has passed, a few times a second.
void Tick()
{
    const long long nNow = plat::Milliseconds();
    if (nNow - g_watch.nStart < kFirstShownAfter ||
        (g_watch.nLastShown >= 0 && nNow - g_watch.nLastShown < kShownEvery))
        return;
    g_watch.nLastShown = nNow;
    if (g_watch.bReader)
        plat::SendFrame(kFrameProgress, EncodeProgress(g_watch.reading));
    else
        plat::ShowProgress(ProgressLine());
}

void NoteBytesRead(std::size_t nBytes)
{
    g_watch.reading.nBytesRead += nBytes;
    Tick();
}

}  // namespace

void WatchRun(bool bWatched)
{
    g_watch = WATCH{};
    g_watch.bWatched = bWatched;
    if (bWatched)
        g_watch.nStart = plat::Milliseconds();
    CLineReader::s_pfnRead = bWatched ? NoteBytesRead : nullptr;
}

bool RunWatched()
{
    return g_watch.bWatched;
}

void WatchReading(bool bReader, const std::string& strSearch, CTimelineWriter* pTimeline)
{
    if (!g_watch.bWatched)
        return;
    g_watch.bReader = bReader;
    g_watch.reading.strSearch = PrintableUtf8(strSearch);
    if (!bReader)
        WatchWriting(pTimeline);
}

void NoteLogsFound(std::size_t nFound, bool bFolderMissing)
{
    g_watch.reading.nLogsFound = static_cast<uint32_t>(nFound);
    if (bFolderMissing)
        g_watch.reading.nState = kProgressNoFolder;
}

void NoteLog(LogRead read)
{
    if (!g_watch.bWatched)
        return;
    PROGRESS& reading = g_watch.reading;
    (read == kLogRead ? reading.nLogsRead : read == kLogInPart ? reading.nLogsInPart : reading.nLogsNotRead)++;
    Tick();
}

void NoteRowWritten()
{
    ++g_watch.nRows;
}

void EndSearch()
{
    if (!g_watch.bWatched)
        return;
    if (g_watch.reading.nState == kProgressReading)
        g_watch.reading.nState = kProgressDone;
    if (g_watch.bReader)
        plat::SendFrame(kFrameProgress, EncodeProgress(g_watch.reading));
}

void WatchWriting(CTimelineWriter* pTimeline)
{
    if (!g_watch.bWatched || pTimeline == nullptr)
        return;
    pTimeline->CountRecords();
    g_watch.pTimeline = pTimeline;
}

void NoteReaderProgress(const PROGRESS& progress)
{
    if (!g_watch.bWatched)
        return;
    g_watch.reading = progress;
    Tick();
}

void SaySummary()
{
    const PROGRESS& reading = g_watch.reading;
    if (!g_watch.bWatched || reading.nState == kProgressReading)
        return;
    const std::size_t nSeparator = reading.strSearch.rfind('\\');
    const std::string strFolder = reading.strSearch.substr(0, nSeparator);
    const std::string strPattern = nSeparator == std::string::npos ? std::string() : reading.strSearch.substr(nSeparator + 1);
    if (reading.nState == kProgressNoFolder) {
        SayLine("the logs folder " + strFolder + " does not exist");
        return;
    }
    if (reading.nLogsFound == 0) {
        SayLine("no log matches " + strPattern + " in " + strFolder);
        return;
    }
    // A log the run did not reach (its walk ended at a damaged row) was not read.
    const uint32_t nNotRead = reading.nLogsFound - reading.nLogsRead - reading.nLogsInPart;
    std::string strLine = strFolder + ": " +
                          (reading.nLogsRead == reading.nLogsFound ? std::string()
                                                                    : std::to_string(reading.nLogsRead) + " of ") +
                          Count(reading.nLogsFound, "log", "logs") + " read, " +
                          Count(g_watch.nRows, "row", "rows") + " written";
    if (g_watch.pTimeline != nullptr)
        strLine += ", " + Count(g_watch.pTimeline->RecordsWritten(), "timeline record", "timeline records");
    if (reading.nLogsInPart != 0 || nNotRead != 0) {
        strLine += ";";
        if (reading.nLogsInPart != 0)
            strLine += " " + std::to_string(reading.nLogsInPart) + " read in part" + (nNotRead != 0 ? "," : "");
        if (nNotRead != 0)
            strLine += " " + std::to_string(nNotRead) + " not read";
    }
    SayLine(strLine);
}

void EndProgress()
{
    if (g_watch.bWatched)
        plat::ShowProgress(std::string());
}
