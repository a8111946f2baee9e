// The writer of a split run. Every frame is checked (common/frames.h); one that no
// sound reader sends ends the reader, and the run is incomplete. Rows are
// appended as a whole run appends them, one open, append and close each, so a
// history file removed during the run is made again.
#include "app/writer.h"

#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/outputs.h"
#include "app/progress.h"
#include "common/frames.h"
#include "export/history_writer.h"
#include "platform/platform.h"


void EndReading(int nStatus)
{
    // A call refused after the system was open leaves the run incomplete.
    if (plat::ReadingRefused() && nStatus == kExitSuccess)
        nStatus = kExitIncomplete;
    const char chStatus = static_cast<char>(nStatus);
    plat::SendFrame(kFrameEnd, std::string_view(&chStatus, 1));
    plat::FlushFrames();
}

int WriteWhatIsRead(const char* szTimeline)
{
    CTimelineWriter timeline;
    OUTPUTS outputs;
    outputs.szTimeline = szTimeline;
    outputs.pTimeline = szTimeline != nullptr ? &timeline : nullptr;
    WatchWriting(outputs.pTimeline);
    CFrameDecoder decoder;
    std::vector<char> aBuffer(64 << 10);
    int nReaderStatus = kExitIncomplete;
    int nWritten = kExitSuccess;  // the writer's own: rows lost (4) or damaged (6)
    std::string strFault;
    bool bDone = false;
    while (!bDone) {
        const long nRead = plat::ReceiveFrames(aBuffer.data(), aBuffer.size());
        if (nRead <= 0)
            break;
        decoder.Feed(aBuffer.data(), static_cast<std::size_t>(nRead));
        FRAME frame{};
        CFrameDecoder::Result result;
        while (!bDone && (result = decoder.Next(frame)) == CFrameDecoder::kFrame) {
            switch (frame.type) {
            case kFrameLine:
                // As text: a control character, a direction override or a byte
                // that is no UTF-8 stands as "?".
                plat::WriteErrorLine(PrintableUtf8(frame.strPayload));
                break;
            case kFrameOpened:
                if (const int nRefused = TakeOutputs(outputs); nRefused != kExitSuccess) {
                    plat::WaitForReader(true);
                    return nRefused;
                }
                break;
            case kFrameRow:
                switch (AppendHistoryRow(frame.strPayload)) {
                case kRowWritten: NoteRowWritten(); break;
                case kRowLost:
                    NoteLostRow();
                    nWritten = kExitIncomplete;
                    break;
                case kRowDamaged:
                    NoteDamagedRow();
                    // A row after a damaged one would be joined to its part.
                    nWritten = kExitRowDamaged;
                    bDone = true;
                    break;
                }
                break;
            case kFrameRecords:
                if (outputs.pTimeline == nullptr) {
                    strFault = "timeline records, where no timeline was asked for";
                    bDone = true;
                } else {
                    timeline.WriteRecords(frame.strPayload);
                }
                break;
            case kFrameAskFile:
                if (!plat::HandOverFile(frame.strPayload)) {
                    strFault = "a request for a file that no image read needs";
                    bDone = true;
                }
                break;
            case kFrameProgress: {
                // Checked by the decoder, its search printable text already.
                PROGRESS progress;
                DecodeProgress(frame.strPayload, progress);
                NoteReaderProgress(progress);
                break;
            }
            case kFrameEnd:
                nReaderStatus = static_cast<unsigned char>(frame.strPayload[0]);
                break;
            }
        }
        if (!bDone && result == CFrameDecoder::kBad) {
            strFault = decoder.Fault();
            bDone = true;
        }
        // After its last frame a reader ends: one that holds its channel open
        // instead is not waited for here, but below, for a while.
        if (decoder.Ended())
            break;
    }

    // The reader's end: as it said, or ended now, or dead before it was done. A
    // reader that dies by a signal is named, and the run is never a success.
    const std::string strDied = plat::WaitForReader(bDone);
    const bool bDied = !strDied.empty() && nWritten != kExitRowDamaged;
    if (!strFault.empty())
        SayLine("the reader sent " + strFault + "; it was ended, and the run is incomplete");
    else if (!decoder.Ended() && nWritten != kExitRowDamaged)
        SayLine("the reader ended before it was done" + (strDied.empty() ? std::string() : " (" + strDied + ")") +
                "; the run is incomplete");
    else if (bDied)
        SayLine("the reader ended after its last frame (" + strDied + "); the run is incomplete");
    const bool bWhole = decoder.Ended() && strFault.empty() && !bDied;
    if (!decoder.Opened())
        return decoder.Ended() ? nReaderStatus : kExitIncomplete;  // never a success there

    int nStatus = bWhole ? nReaderStatus : kExitIncomplete;
    if (nWritten == kExitRowDamaged || (nWritten != kExitSuccess && nStatus == kExitSuccess))
        nStatus = nWritten;
    nStatus = CloseOutputs(outputs, nStatus);
    SaySummary();
    return nStatus;
}
