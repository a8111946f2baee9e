// Fuzz target: what a taken-over reader could send its writer. The bytes are fed
// to the frame decoder in pieces whose sizes the input picks; every frame it
// accepts must be one a sound reader sends (a whole row, whole records, a status
// in its place), and once it says bad it stays bad.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    if (nSize == 0)
        return 0;
    const std::size_t nPiece = 1 + pData[0] % 64;
    const char* const pBytes = reinterpret_cast<const char*>(pData) + 1;
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
