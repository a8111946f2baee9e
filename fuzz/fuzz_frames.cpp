// Fuzz target: what a taken-over reader could send its writer. The bytes are fed
// to the frame decoder in pieces whose sizes the input picks; every frame it
// accepts must be one a sound reader sends (a whole row, whole records, a status
// in its place, progress a reading makes), and once it says bad it stays bad.
// The same bytes are checked as timeline records: records accepted must be lines
// each "{...}", with no control character, whose braces and brackets outside
// strings close as they opened.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/frames.h"

namespace {

bool IsBalancedLine(std::string_view strLine)
{
    std::string strOpen;
    bool bInString = false, bEscaped = false;
    for (std::size_t i = 0; i < strLine.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strLine[i]);
        if (ch < 0x20)
            return false;
        if (bInString) {
            if (bEscaped)
                bEscaped = false;
            else if (ch == '\\')
                bEscaped = true;
            else if (ch == '"')
                bInString = false;
        } else if (ch == '"') {
            bInString = true;
        } else if (ch == '{' || ch == '[') {
            if (i != 0 && strOpen.empty())
                return false;  // a second value on the line
            strOpen += static_cast<char>(ch);
        } else if (ch == '}' || ch == ']') {
            if (strOpen.empty() || strOpen.back() != (ch == '}' ? '{' : '['))
                return false;
            strOpen.pop_back();
        }
    }
    return !strLine.empty() && strLine.front() == '{' && strLine.back() == '}' && strOpen.empty() && !bInString;
}

void CheckRecords(std::string_view strRecords)
{
    if (!AreWholeRecords(strRecords))
        return;
    for (std::size_t nStart = 0; nStart < strRecords.size();) {
        const std::size_t nEnd = strRecords.find('\n', nStart);
        if (nEnd == std::string_view::npos || !IsBalancedLine(strRecords.substr(nStart, nEnd - nStart)))
            std::abort();
        nStart = nEnd + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    if (nSize == 0)
        return 0;
    const std::size_t nPiece = 1 + pData[0] % 64;
    const char* const pBytes = reinterpret_cast<const char*>(pData) + 1;
    CheckRecords(std::string_view(pBytes, nSize - 1));
    CFrameDecoder decoder;
    bool bBad = false;
    for (std::size_t nDone = 0; nDone < nSize - 1;) {
        const std::size_t nTake = nSize - 1 - nDone < nPiece ? nSize - 1 - nDone : nPiece;
        decoder.Feed(pBytes + nDone, nTake);
        nDone += nTake;
        FRAME frame{};
        CFrameDecoder::Result result;
        while ((result = decoder.Next(frame)) == CFrameDecoder::kFrame) {
            if (bBad)
                std::abort();
            if ((frame.type == kFrameRow && !IsWholeRow(frame.strPayload)) ||
                (frame.type == kFrameRecords && !AreWholeRecords(frame.strPayload)) ||
                (frame.type == kFrameEnd && frame.strPayload.size() != 1))
                std::abort();
            // Progress accepted is counts a reading makes, which encode back to it.
            PROGRESS progress;
            if (frame.type == kFrameProgress &&
                (!DecodeProgress(frame.strPayload, progress) || EncodeProgress(progress) != frame.strPayload ||
                 uint64_t{progress.nLogsRead} + progress.nLogsInPart + progress.nLogsNotRead > progress.nLogsFound))
                std::abort();
            // A frame encodes back to its own bytes.
            std::string strAgain;
            AppendFrame(strAgain, frame.type, frame.strPayload);
            if (strAgain.size() != kFrameHeaderSize + frame.strPayload.size())
                std::abort();
        }
        if (result == CFrameDecoder::kBad) {
            if (decoder.Fault().empty())
                std::abort();
            bBad = true;
        }
    }
    return 0;
}
