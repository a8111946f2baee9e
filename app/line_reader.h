// Reading a log file one whole line at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Splits a file into lines at each line feed; the piece after the last line feed is
// a line too (empty when the file ends with a line feed, or is empty). A CR directly
// before the line feed is dropped, and a line ends at its first NUL. A line longer
// than kMaxLineLength is cut there and the rest of it, up to its line feed, skipped.
class CLineReader {
public:
    static constexpr std::size_t kMaxLineLength = 1 << 20;

    enum Result { kLine, kEnd, kFailed };

    explicit CLineReader(plat::File* pFile) : m_pFile(pFile) {}

    // kLine with strLine valid until the next call; kEnd after the last line;
    // kFailed when the file could not be read further.
    Result ReadLine(std::string_view& strLine);

    // True once a line was cut at kMaxLineLength.
    bool WasLineCut() const { return m_bLineCut; }

    // When set, told the byte count of each read (a run watched at a terminal
    // counts what it reads).
    static inline void (*s_pfnRead)(std::size_t nBytes) = nullptr;

private:
    void Keep(const char* pData, std::size_t nSize);
    std::string_view Finish(std::string_view strLine, bool bLineFeed) const;

    plat::File* m_pFile;
    char m_achBuffer[1 << 16];
    std::size_t m_nPos = 0;
    std::size_t m_nEnd = 0;
    bool m_bDone = false;
    bool m_bLineCut = false;
    bool m_bNulRead = false;  // a NUL came in a read this line may hold
    std::string m_strLong;  // a line that spans reads
};
