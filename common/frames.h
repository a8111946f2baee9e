// The frames a confined reader sends its writer over a pipe: a type byte, a
// 32-bit little-endian length, then that many bytes. The writer trusts nothing the
// reader sends (the reader parses hostile evidence), so each frame is checked
// here: a known type, a length within that type's bound, a whole row or whole
// records, and an order that a sound reader keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum FrameType : uint8_t {
    kFrameOpened = 1,   // the system is open: the outputs may be made (no payload)
    kFrameRow = 2,      // one whole history row, ending in CR LF
    kFrameRecords = 3,  // whole timeline records, each a line ending in LF
    kFrameLine = 4,     // one line for standard error, without its line end
    kFrameEnd = 5,      // the reader's exit status, one byte; nothing follows
    kFrameAskFile = 6,  // a file the image names, by its plain name, asked of the writer
    kFrameProgress = 7, // the reader's counts (PROGRESS), for a person at a terminal
};

constexpr std::size_t kFrameHeaderSize = 5;
// A row holds a log line of at most 1 MiB, its quotes doubled at the most; records
// are handed on in pieces of about 1 MiB, each record a line of at most 8 MiB.
constexpr std::size_t kMaxRowFrame = 4u << 20;
constexpr std::size_t kMaxRecordsFrame = 16u << 20;
constexpr std::size_t kMaxLineFrame = 8192;
constexpr std::size_t kMaxFileNameFrame = 255;  // a file name, as Linux bounds it

// What the reader has read so far, sent only when a person watches the run at a
// terminal: a few times a second by its clock, and once when its logs are done.
enum ProgressState : uint8_t {
    kProgressReading = 0,   // the logs are being read
    kProgressDone = 1,      // every log found was read, or could not be
    kProgressNoFolder = 2,  // done: the folder searched does not exist
};
struct PROGRESS {
    uint32_t nLogsFound = 0;
    uint32_t nLogsRead = 0;     // read to their end
    uint32_t nLogsInPart = 0;   // opened, but not read to their end
    uint32_t nLogsNotRead = 0;  // that could not be opened
    uint64_t nBytesRead = 0;    // of every log, recovered ones too
    uint8_t nState = kProgressReading;
    std::string strSearch;  // "folder\pattern", in UTF-8; empty before the search
};
// The payload: the counts (four 32-bit and one 64-bit number, little-endian), the
// state, then the search: at most a path of 259 characters of 3 bytes each.
constexpr std::size_t kProgressCounts = 25;
constexpr std::size_t kMaxProgressFrame = kProgressCounts + 3 * 259;
// Text as it can be said at a terminal: a control character (C0, DEL, C1), a
// direction override or isolate, or a byte that is no UTF-8 stands as "?".
std::string EncodeProgress(const PROGRESS& progress);
std::string PrintableUtf8(std::string_view strText);
// A line shown in place on a terminal nWidth columns wide, over one of nShown
// columns: "\r", the line cut to nWidth columns (a column a character: a byte
// that continues no UTF-8 sequence), spaces over what is left of the line shown
// before, and for an empty line a closing "\r". nShown becomes the columns shown.
std::string RedrawnLine(std::string_view strLine, std::size_t nWidth, std::size_t& nShown);
// False for a payload no sound reader sends: another length, logs counted twice,
// an unknown state, or a search that is not printable UTF-8.
bool DecodeProgress(std::string_view strPayload, PROGRESS& progress);

// Appends one frame to strOut.
void AppendFrame(std::string& strOut, FrameType type, std::string_view strPayload);

struct FRAME {
    FrameType type;
    std::string_view strPayload;  // valid until the decoder is fed again
};

// Splits the bytes received into checked frames.
class CFrameDecoder {
public:
    enum Result { kFrame, kNeedMore, kBad };

    // Takes the bytes received next.
    void Feed(const char* pData, std::size_t nSize);
    // The next whole frame; kNeedMore when the bytes fed so far end inside one;
    // kBad, with Fault() saying why, for a frame no sound reader sends. After
    // kBad the decoder stays bad.
    Result Next(FRAME& frame);
    // Whether the end frame was received.
    bool Ended() const { return m_bEnded; }
    // Whether the reader said the system is open.
    bool Opened() const { return m_bOpened; }
    const std::string& Fault() const { return m_strFault; }

private:
    Result Bad(std::string strFault);

    std::string m_strBuffer;
    std::size_t m_nStart = 0;  // of the next frame in m_strBuffer
    bool m_bOpened = false;
    bool m_bEnded = false;
    std::string m_strFault;
};

// Whether a row reads back as exactly 13 CSV fields ending in CR LF.
bool IsWholeRow(std::string_view strRow);
// The length of the well-formed UTF-8 character at p (1 for ASCII), or 0 when the
// bytes there are none.
std::size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* pEnd);
// Whether the UTF-8 character at p, nLength bytes, is one a terminal acts on or
// that shows text in another order: a C1 control, a direction override or
// isolate.
bool IsHiddenControl(const unsigned char* p, std::size_t nLength);
// Whether records are whole JSON Lines records: each line, ending in LF, one JSON
// object of well-formed UTF-8 with no raw control character but DEL (in a
// string), nested at most 64 deep.
bool AreWholeRecords(std::string_view strRecords);
