// Reading one value from the text of a Wine registry file:
//   [Key\\Path] 1700000000          a key, its parts joined by an escaped "\"
//   "Name"="text"                   a string (REG_SZ)
//   "Name"=str(2):"text"            a string of another type
//   "Name"=dword:0000002a           a 32-bit number
//   "Name"=hex(3):41,42,\           bytes of any type, continued on the next line
//   @="text"                        the key's default value
#include <cstddef>
#include <vector>

#include "platform/posix/wine_prefix.h"

namespace posix {

namespace {

char Lower(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

bool EqualNoCase(std::string_view strLeft, std::string_view strRight)
{
    if (strLeft.size() != strRight.size())
        return false;
    for (std::size_t i = 0; i < strLeft.size(); ++i) {
        if (Lower(strLeft[i]) != Lower(strRight[i]))
            return false;
    }
    return true;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    ch = Lower(ch);
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

// Reads escaped UTF-16 text up to the unescaped character chEnd, starting after the
// opening delimiter at nPos. Returns the position after chEnd, or npos when the text
// does not end.
std::size_t ReadEscaped(std::string_view strLine, std::size_t nPos, char chEnd,
                        std::vector<uint16_t>& awText)
{
    awText.clear();
    while (nPos < strLine.size()) {
        char ch = strLine[nPos++];
        if (ch == chEnd)
            return nPos;
        if (ch != '\\' || nPos == strLine.size()) {
            awText.push_back(static_cast<unsigned char>(ch));
            continue;
        }
        ch = strLine[nPos++];
        uint16_t wChar;
        switch (ch) {
        case 'a': wChar = '\a'; break;
        case 'b': wChar = '\b'; break;
        case 'e': wChar = 0x1B; break;
        case 'f': wChar = '\f'; break;
        case 'n': wChar = '\n'; break;
        case 'r': wChar = '\r'; break;
        case 't': wChar = '\t'; break;
        case 'v': wChar = '\v'; break;
        case 'x': {
            wChar = 0;
            for (int nDigits = 0; nDigits < 4 && nPos < strLine.size(); ++nDigits, ++nPos) {
                int nDigit = HexDigit(strLine[nPos]);
                if (nDigit < 0)
                    break;
                wChar = static_cast<uint16_t>(wChar * 16 + nDigit);
            }
            break;
        }
        default:
            if (ch >= '0' && ch <= '7') {
                wChar = static_cast<uint16_t>(ch - '0');
                for (int nDigits = 1; nDigits < 3 && nPos < strLine.size() &&
                                      strLine[nPos] >= '0' && strLine[nPos] <= '7';
                     ++nDigits, ++nPos)
                    wChar = static_cast<uint16_t>(wChar * 8 + (strLine[nPos] - '0'));
            } else {
                wChar = static_cast<unsigned char>(ch);  // \\ \" \[ \] and any other
            }
            break;
        }
        awText.push_back(wChar);
    }
    return std::string_view::npos;
}

// The ANSI bytes of UTF-16 text: characters beyond one byte become "?".
void AppendAnsi(const uint16_t* pwText, std::size_t nCount, std::string& strData)
{
    for (std::size_t i = 0; i < nCount; ++i)
        strData += pwText[i] < 0x100 ? static_cast<char>(pwText[i]) : '?';
}

bool IsStringType(uint32_t dwType)
{
    return dwType == kRegSz || dwType == kRegExpandSz || dwType == kRegMultiSz;
}

// Decodes the data after "=": false when it is malformed.
bool DecodeData(std::string_view strData, std::string& strBytes, uint32_t& dwType)
{
    strBytes.clear();
    std::vector<uint16_t> awText;
    dwType = kRegSz;
    if (strData.substr(0, 4) == "str(") {
        std::size_t nClose = strData.find("):", 4);
        if (nClose == std::string_view::npos)
            return false;
        dwType = 0;
        for (std::size_t i = 4; i < nClose; ++i) {
            int nDigit = HexDigit(strData[i]);
            if (nDigit < 0 || dwType > 0x0FFFFFFF)
                return false;
            dwType = dwType * 16 + static_cast<uint32_t>(nDigit);
        }
        strData.remove_prefix(nClose + 2);
    }
    if (!strData.empty() && strData.front() == '"') {
        if (ReadEscaped(strData, 1, '"', awText) == std::string_view::npos)
            return false;
        AppendAnsi(awText.data(), awText.size(), strBytes);
        strBytes += '\0';
        return true;
    }
    if (strData.substr(0, 6) == "dword:") {
        uint32_t dwValue = 0;
        std::size_t i = 6;
        for (; i < strData.size() && HexDigit(strData[i]) >= 0 && i < 14; ++i)
            dwValue = dwValue * 16 + static_cast<uint32_t>(HexDigit(strData[i]));
        if (i == 6)
            return false;
        dwType = 4;
        for (int nByte = 0; nByte < 4; ++nByte)
            strBytes += static_cast<char>((dwValue >> (8 * nByte)) & 0xFF);
        return true;
    }
    if (strData.substr(0, 3) != "hex")
        return false;
    std::size_t nColon = strData.find(':');
    if (nColon == std::string_view::npos)
        return false;
    dwType = 3;
    if (nColon > 3) {
        if (strData[3] != '(' || strData[nColon - 1] != ')')
            return false;
        dwType = 0;
        for (std::size_t i = 4; i + 1 < nColon; ++i) {
            int nDigit = HexDigit(strData[i]);
            if (nDigit < 0 || dwType > 0x0FFFFFFF)
                return false;
            dwType = dwType * 16 + static_cast<uint32_t>(nDigit);
        }
    }
    std::string strRaw;
    for (std::size_t i = nColon + 1; i < strData.size();) {
        char ch = strData[i];
        if (ch == ',' || ch == ' ' || ch == '\t' || ch == '\\' || ch == '\n' || ch == '\r') {
            ++i;
            continue;
        }
        int nHigh = HexDigit(ch);
        int nLow = i + 1 < strData.size() ? HexDigit(strData[i + 1]) : -1;
        if (nHigh < 0 || nLow < 0)
            return false;
        strRaw += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    if (!IsStringType(dwType)) {
        strBytes = strRaw;
        return true;
    }
    // Stored UTF-16 text, as it stands: no terminating zero is added.
    std::vector<uint16_t> awRaw;
    for (std::size_t i = 0; i + 1 < strRaw.size(); i += 2)
        awRaw.push_back(static_cast<uint16_t>(static_cast<unsigned char>(strRaw[i]) |
                                              static_cast<unsigned char>(strRaw[i + 1]) << 8));
    AppendAnsi(awRaw.data(), awRaw.size(), strBytes);
    return true;
}

// The next logical line: a physical line, joined with the following ones while it
// ends in a backslash inside hex data.
std::string_view NextLine(std::string_view strFile, std::size_t& nPos, std::string& strJoined)
{
    std::size_t nEnd = strFile.find('\n', nPos);
    if (nEnd == std::string_view::npos)
        nEnd = strFile.size();
    std::string_view strLine = strFile.substr(nPos, nEnd - nPos);
    nPos = nEnd < strFile.size() ? nEnd + 1 : nEnd;
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.remove_suffix(1);
    if (strLine.empty() || strLine.back() != '\\' || strLine.find("=hex") == std::string_view::npos)
        return strLine;
    strJoined.assign(strLine);
    while (!strJoined.empty() && strJoined.back() == '\\' && nPos < strFile.size()) {
        strJoined.pop_back();
        nEnd = strFile.find('\n', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = strFile.size();
        strJoined.append(strFile.substr(nPos, nEnd - nPos));
        if (!strJoined.empty() && strJoined.back() == '\r')
            strJoined.pop_back();
        nPos = nEnd < strFile.size() ? nEnd + 1 : nEnd;
    }
    return strJoined;
}

}  // namespace

bool FindRegistryValue(std::string_view strFile, std::string_view strKey,
                       std::string_view strValue, std::string& strData, uint32_t& dwType)
{
    std::vector<uint16_t> awName;
    std::string strName;
    std::string strJoined;
    bool bInKey = false;
    for (std::size_t nPos = 0; nPos < strFile.size();) {
        std::string_view strLine = NextLine(strFile, nPos, strJoined);
        if (strLine.empty())
            continue;
        if (strLine.front() == '[') {
            if (bInKey)
                return false;  // the key's section ended without the value
            std::size_t nEnd = ReadEscaped(strLine, 1, ']', awName);
            strName.clear();
            AppendAnsi(awName.data(), awName.size(), strName);
            bInKey = nEnd != std::string_view::npos && EqualNoCase(strName, strKey);
            continue;
        }
        if (!bInKey)
            continue;
        std::size_t nEquals;
        if (strLine.front() == '@' && strLine.size() > 1 && strLine[1] == '=') {
            strName.clear();
            nEquals = 1;
        } else if (strLine.front() == '"') {
            nEquals = ReadEscaped(strLine, 1, '"', awName);
            if (nEquals == std::string_view::npos || nEquals >= strLine.size() ||
                strLine[nEquals] != '=')
                continue;
            strName.clear();
            AppendAnsi(awName.data(), awName.size(), strName);
        } else {
            continue;  // comments and time stamps
        }
        if (EqualNoCase(strName, strValue))
            return DecodeData(strLine.substr(nEquals + 1), strData, dwType);
    }
    return false;
}

}  // namespace posix
