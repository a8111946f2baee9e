// Fuzz target: the line reader on arbitrary file contents, delivered in reads of
// varying sizes; the lines must be exactly those of a simple reference split.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/line_reader.h"

namespace plat {

struct File {
    const char* pData;
    std::size_t nSize;
    std::size_t nPos;
    unsigned nRead;
};

// Reads of 1 to 4096 bytes, varying with the position.
long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize)
{
    std::size_t nCount = 1 + (pFile->nRead++ * 2654435761u) % 4096;
    nCount = std::min<std::size_t>({nCount, nSize, pFile->nSize - pFile->nPos});
    std::memcpy(pBuffer, pFile->pData + pFile->nPos, nCount);
    pFile->nPos += nCount;
    return static_cast<long>(nCount);
}

}  // namespace plat

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    std::string strContent(reinterpret_cast<const char*>(pData), nSize);
    // Reference: split at each LF (the piece after the last one included), drop a
    // CR before the LF, end each line at its first NUL.
    std::vector<std::string> astrExpected;
    std::size_t nStart = 0;
    while (true) {
        std::size_t nEnd = strContent.find('\n', nStart);
        std::string strLine = strContent.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (nEnd != std::string::npos && !strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        strLine = strLine.substr(0, strLine.find('\0'));
        astrExpected.push_back(strLine.substr(0, CLineReader::kMaxLineLength));
        if (nEnd == std::string::npos)
            break;
        nStart = nEnd + 1;
    }
    plat::File file{strContent.data(), strContent.size(), 0, 0};
    CLineReader reader(&file);
    std::string_view strLine;
    std::size_t nLine = 0;
    while (reader.ReadLine(strLine) == CLineReader::kLine) {
        if (nLine >= astrExpected.size() || strLine != astrExpected[nLine])
            std::abort();
        ++nLine;
    }
    if (nLine != astrExpected.size())
        std::abort();
    return 0;
}
