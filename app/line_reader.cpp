// The line reader: lines are handed out in place from the read buffer; only a line
// that spans two reads is gathered in a string of its own.
#include "app/line_reader.h"

#include <cstring>

void CLineReader::Keep(const char* pData, std::size_t nSize)
{
    std::size_t nRoom = kMaxLineLength - m_strLong.size();
    if (nSize > nRoom) {
        nSize = nRoom;
        m_bLineCut = true;
    }
    m_strLong.append(pData, nSize);
}

std::string_view CLineReader::Finish(std::string_view strLine, bool bLineFeed) const
{
    if (bLineFeed && !strLine.empty() && strLine.back() == '\r')
        strLine.remove_suffix(1);
    if (!m_bNulRead)
        return strLine;
    if (const void* pNul = std::memchr(strLine.data(), '\0', strLine.size()))
        strLine = strLine.substr(0, static_cast<const char*>(pNul) - strLine.data());
    return strLine;
}

CLineReader::Result CLineReader::ReadLine(std::string_view& strLine)
{
    if (m_bDone)
        return kEnd;
    bool bSpanning = false;
    m_strLong.clear();
    // Lines are looked through for a NUL only while one is in the buffer, or was in
    // an earlier read of a line that spans reads.
    m_bNulRead = m_nPos < m_nEnd && m_bNulRead;
    for (;;) {
        if (m_nPos < m_nEnd) {
            const char* pStart = m_achBuffer + m_nPos;
            std::size_t nAvailable = m_nEnd - m_nPos;
            const char* pLineFeed = static_cast<const char*>(std::memchr(pStart, '\n', nAvailable));
            if (pLineFeed != nullptr) {
                std::size_t nLength = static_cast<std::size_t>(pLineFeed - pStart);
                m_nPos += nLength + 1;
                if (!bSpanning) {
                    strLine = Finish(std::string_view(pStart, nLength), true);
                    return kLine;
                }
                Keep(pStart, nLength);
                strLine = Finish(m_strLong, true);
                return kLine;
            }
            Keep(pStart, nAvailable);
            bSpanning = true;
        }
        m_nPos = m_nEnd = 0;
        long nRead = plat::ReadBytes(m_pFile, m_achBuffer, sizeof(m_achBuffer));
        if (nRead < 0) {
            m_bDone = true;
            return kFailed;
        }
        if (nRead == 0) {
            m_bDone = true;
            strLine = Finish(m_strLong, false);
            return kLine;
        }
        m_nEnd = static_cast<std::size_t>(nRead);
        if (s_pfnRead != nullptr)
            s_pfnRead(m_nEnd);
        m_bNulRead = m_bNulRead || std::memchr(m_achBuffer, '\0', m_nEnd) != nullptr;
    }
}
