// Framing between the confined reader and its writer, and the writer's checks.
#include "common/frames.h"

#include <cstring>

namespace {

constexpr std::size_t kHistoryFields = 13;

std::size_t MaxPayload(uint8_t nType)
{
    switch (nType) {
    case kFrameOpened: return 0;
    case kFrameRow: return kMaxRowFrame;
    case kFrameRecords: return kMaxRecordsFrame;
    case kFrameLine: return kMaxLineFrame;
    case kFrameEnd: return 1;
    case kFrameAskFile: return kMaxFileNameFrame;
    default: return 0;
    }
}

// The statuses a reader ends with: before the system is open, a refusal (not
// installed, no data folder, a pattern too long, an unreadable system) or reading
// cut short (out of memory); after it, success or an incomplete run. The history
// file's refusal (2) and a damaged row (6) are the writer's own.
bool IsReaderStatus(unsigned nStatus, bool bOpened)
{
    return bOpened ? nStatus == 0 || nStatus == 4
                   : nStatus == 1 || nStatus == 3 || nStatus == 4 || nStatus == 5 || nStatus == 7;
}

}  // namespace

void AppendFrame(std::string& strOut, FrameType type, std::string_view strPayload)
{
    const uint32_t nSize = static_cast<uint32_t>(strPayload.size());
    const char achHeader[kFrameHeaderSize] = {static_cast<char>(type), static_cast<char>(nSize & 0xFF),
                                              static_cast<char>(nSize >> 8 & 0xFF), static_cast<char>(nSize >> 16 & 0xFF),
                                              static_cast<char>(nSize >> 24)};
    strOut.append(achHeader, sizeof(achHeader));
    strOut.append(strPayload);
}

void CFrameDecoder::Feed(const char* pData, std::size_t nSize)
{
    // What was handed out last is done with: the buffer keeps only what follows it.
    if (m_nStart != 0) {
        m_strBuffer.erase(0, m_nStart);
        m_nStart = 0;
    }
    m_strBuffer.append(pData, nSize);
}

CFrameDecoder::Result CFrameDecoder::Bad(std::string strFault)
{
    m_strFault = std::move(strFault);
    return kBad;
}

CFrameDecoder::Result CFrameDecoder::Next(FRAME& frame)
{
    if (!m_strFault.empty())
        return kBad;
    const std::size_t nHave = m_strBuffer.size() - m_nStart;
    if (nHave == 0)
        return kNeedMore;
    const unsigned char* const p = reinterpret_cast<const unsigned char*>(m_strBuffer.data() + m_nStart);
    const uint8_t nType = p[0];
    if (nType < kFrameOpened || nType > kFrameAskFile)
        return Bad("a frame of unknown type " + std::to_string(nType));
    if (m_bEnded)
        return Bad("a frame after the reader's last");
    if (nHave < kFrameHeaderSize)
        return kNeedMore;
    const uint32_t nSize = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                           static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
    if (nSize > MaxPayload(nType) || (nType == kFrameEnd && nSize != 1))
        return Bad("a frame of type " + std::to_string(nType) + " and " + std::to_string(nSize) + " bytes");
    if (nHave - kFrameHeaderSize < nSize)
        return kNeedMore;
    const std::string_view strPayload(m_strBuffer.data() + m_nStart + kFrameHeaderSize, nSize);
    switch (nType) {
    case kFrameOpened:
        if (m_bOpened)
            return Bad("the system said open twice");
        m_bOpened = true;
        break;
    case kFrameRow:
        if (!m_bOpened || !IsWholeRow(strPayload))
            return Bad(m_bOpened ? "a row that is not 13 whole fields" : "a row before the system is open");
        break;
    case kFrameRecords:
        if (!m_bOpened || !AreWholeRecords(strPayload))
            return Bad(m_bOpened ? "timeline records that are not whole" : "records before the system is open");
        break;
    case kFrameAskFile:
        // Asked while the image is opened, by a plain file name.
        if (m_bOpened || strPayload.empty() || strPayload == "." || strPayload == ".." ||
            strPayload.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
            return Bad(m_bOpened ? "a file asked for once the system is open" : "a file asked for by no plain name");
        break;
    case kFrameEnd:
        if (!IsReaderStatus(static_cast<unsigned char>(strPayload[0]), m_bOpened))
            return Bad("an exit status of " + std::to_string(static_cast<unsigned char>(strPayload[0])) +
                       (m_bOpened ? " once the system is open" : " before the system is open"));
        m_bEnded = true;
        break;
    default: break;
    }
    frame.type = static_cast<FrameType>(nType);
    frame.strPayload = strPayload;
    m_nStart += kFrameHeaderSize + nSize;
    return kFrame;
}

bool IsWholeRow(std::string_view strRow)
{
    std::size_t nPos = 0, nFields = 0;
    const std::size_t nSize = strRow.size();
    for (;;) {
        ++nFields;
        if (nPos < nSize && strRow[nPos] == '"') {
            // Quoted: to the closing quote, a doubled quote standing for one.
            for (++nPos;; ++nPos) {
                if (nPos >= nSize)
                    return false;
                if (strRow[nPos] == '"') {
                    if (nPos + 1 < nSize && strRow[nPos + 1] == '"')
                        ++nPos;
                    else
                        break;
                }
            }
            ++nPos;
        } else {
            while (nPos < nSize && strRow[nPos] != ',' && strRow[nPos] != '"' && strRow[nPos] != '\r' &&
                   strRow[nPos] != '\n')
                ++nPos;
        }
        if (nPos < nSize && strRow[nPos] == ',') {
            ++nPos;
            continue;
        }
        return nFields == kHistoryFields && nPos + 2 == nSize && strRow[nPos] == '\r' && strRow[nPos + 1] == '\n';
    }
}

bool AreWholeRecords(std::string_view strRecords)
{
    if (strRecords.empty() || strRecords.back() != '\n')
        return false;
    for (std::size_t nStart = 0; nStart < strRecords.size();) {
        const std::size_t nEnd = strRecords.find('\n', nStart);
        if (nEnd - nStart < 2 || strRecords[nStart] != '{' || strRecords[nEnd - 1] != '}')
            return false;
        nStart = nEnd + 1;
    }
    return true;
}
