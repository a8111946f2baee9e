// Reading one value from the text of a Wine registry file:
//   [Key\\Path] 1700000000          a key, its parts joined by an escaped "\"
//   "Name"="text"                   a string (REG_SZ)
//   "Name"=str(2):"text"            a string of another type
//   "Name"=dword:0000002a           a 32-bit number
//   "Name"=hex(3):41,42,\           bytes of any type, continued on the next line
//   @="text"                        the key's default value
//   #link                           the key is a link to the key its
//   "SymbolicLinkValue"=hex(6):...  SymbolicLinkValue names (\REGISTRY\Machine\...)
#include "platform/posix/registry/wine_registry.h"

#include <cstddef>

#include "platform/codes.h"

namespace {

char Lower(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
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
// does not end. (Wine writes characters beyond ASCII as \x escapes.)
std::size_t ReadEscaped(std::string_view strLine, std::size_t nPos, char chEnd,
                        std::u16string& awText)
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
        char16_t wChar;
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
                wChar = static_cast<char16_t>(wChar * 16 + nDigit);
            }
            break;
        }
        default:
            if (ch >= '0' && ch <= '7') {
                wChar = static_cast<char16_t>(ch - '0');
                for (int nDigits = 1; nDigits < 3 && nPos < strLine.size() &&
                                      strLine[nPos] >= '0' && strLine[nPos] <= '7';
                     ++nDigits, ++nPos)
                    wChar = static_cast<char16_t>(wChar * 8 + (strLine[nPos] - '0'));
            } else {
                wChar = static_cast<unsigned char>(ch);  // \\ \" \[ \] and any other
            }
            break;
        }
        awText.push_back(wChar);
    }
    return std::string_view::npos;
}

// The UTF-16LE bytes of text.
void AppendUtf16(const std::u16string& awText, std::string& strBytes)
{
    for (char16_t wChar : awText) {
        strBytes += static_cast<char>(wChar & 0xFF);
        strBytes += static_cast<char>(wChar >> 8);
    }
}

// Decodes the data after "=": false when it is malformed.
bool DecodeData(std::string_view strData, std::string& strBytes, uint32_t& dwType)
{
    strBytes.clear();
    std::u16string awText;
    dwType = REG_SZ;
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
        AppendUtf16(awText, strBytes);
        strBytes.append(2, '\0');  // stored with its terminating zero
        return true;
    }
    if (strData.substr(0, 6) == "dword:") {
        uint32_t dwValue = 0;
        std::size_t i = 6;
        for (; i < strData.size() && HexDigit(strData[i]) >= 0 && i < 14; ++i)
            dwValue = dwValue * 16 + static_cast<uint32_t>(HexDigit(strData[i]));
        if (i == 6)
            return false;
        dwType = REG_DWORD;
        for (int nByte = 0; nByte < 4; ++nByte)
            strBytes += static_cast<char>((dwValue >> (8 * nByte)) & 0xFF);
        return true;
    }
    if (strData.substr(0, 3) != "hex")
        return false;
    std::size_t nColon = strData.find(':');
    if (nColon == std::string_view::npos)
        return false;
    dwType = REG_BINARY;
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
        strBytes += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    return true;  // as stored: a string of hex bytes has no terminating zero added
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

bool EqualNoCase16(std::u16string_view strLeft, std::u16string_view strRight)
{
    if (strLeft.size() != strRight.size())
        return false;
    for (std::size_t i = 0; i < strLeft.size(); ++i) {
        char16_t a = strLeft[i], b = strRight[i];
        if (a != b && (a > 0x7F || b > 0x7F || Lower(static_cast<char>(a)) != Lower(static_cast<char>(b))))
            return false;
    }
    return true;
}

namespace {

constexpr char16_t kLinkValue[] = u"SymbolicLinkValue";
constexpr char16_t kMachineRoot[] = u"\\REGISTRY\\Machine\\";
constexpr uint32_t kRegLink = 6;
// Links followed in one look-up at the most: a loop of links ends there.
constexpr int kMaxLinks = 16;

// Whether strKey is strPrefix itself or lies below it.
bool IsKeyOrBelow(std::u16string_view strKey, std::u16string_view strPrefix)
{
    return strKey.size() >= strPrefix.size() && EqualNoCase16(strKey.substr(0, strPrefix.size()), strPrefix) &&
           (strKey.size() == strPrefix.size() || strKey[strPrefix.size()] == u'\\');
}

enum class Scan { kFound, kMissing, kLink };

// One pass over the file for strKey's value. A key on the way to it (or the key
// itself) that Wine keeps as a link ("#link" and its SymbolicLinkValue) gives
// kLink, with strKey rewritten to the same key below the link's target.
Scan ScanForValue(std::string_view strFile, std::u16string& strKey, std::u16string_view strValue,
                  REGVALUE& value)
{
    std::u16string awName;
    std::u16string awSection;
    std::string strJoined;
    bool bOnPath = false;  // in the key or in a key above it
    bool bLink = false;
    bool bFound = false;
    REGVALUE link;
    auto endSection = [&]() -> Scan {
        if (bLink && link.dwType == kRegLink) {
            std::u16string strTarget;
            for (std::size_t i = 0; i + 1 < link.strBytes.size(); i += 2)
                strTarget += static_cast<char16_t>(static_cast<unsigned char>(link.strBytes[i]) |
                                                   static_cast<unsigned char>(link.strBytes[i + 1]) << 8);
            const std::u16string_view strRoot(kMachineRoot);
            if (strTarget.size() <= strRoot.size() || !EqualNoCase16(std::u16string_view(strTarget).substr(0, strRoot.size()), strRoot))
                return Scan::kMissing;  // a link out of HKEY_LOCAL_MACHINE
            strKey = strTarget.substr(strRoot.size()) + strKey.substr(awSection.size());
            return Scan::kLink;
        }
        return bFound ? Scan::kFound : Scan::kMissing;
    };
    for (std::size_t nPos = 0; nPos < strFile.size();) {
        std::string_view strLine = NextLine(strFile, nPos, strJoined);
        if (strLine.empty())
            continue;
        if (strLine.front() == '[') {
            if (bOnPath && (bLink || awSection.size() == strKey.size()))
                return endSection();  // the key's section, or a link above it, ended
            std::size_t nEnd = ReadEscaped(strLine, 1, ']', awSection);
            bOnPath = nEnd != std::string_view::npos && IsKeyOrBelow(strKey, awSection);
            bLink = false;
            link = REGVALUE{};
            continue;
        }
        if (!bOnPath)
            continue;
        if (strLine == "#link") {
            bLink = true;
            continue;
        }
        std::size_t nEquals;
        if (strLine.front() == '@' && strLine.size() > 1 && strLine[1] == '=') {
            awName.clear();
            nEquals = 1;
        } else if (strLine.front() == '"') {
            nEquals = ReadEscaped(strLine, 1, '"', awName);
            if (nEquals == std::string_view::npos || nEquals >= strLine.size() ||
                strLine[nEquals] != '=')
                continue;
        } else {
            continue;  // comments and time stamps
        }
        const std::string_view strData = strLine.substr(nEquals + 1);
        if (EqualNoCase16(awName, kLinkValue) && !DecodeData(strData, link.strBytes, link.dwType))
            link.dwType = 0;
        if (awSection.size() == strKey.size() && EqualNoCase16(awName, strValue))
            bFound = DecodeData(strData, value.strBytes, value.dwType);
    }
    return bOnPath ? endSection() : Scan::kMissing;
}

}  // namespace

bool FindWineRegistryValue(std::string_view strFile, std::u16string_view strKey,
                           std::u16string_view strValue, REGVALUE& value)
{
    std::u16string strPath(strKey);
    for (int nLinks = 0; nLinks <= kMaxLinks; ++nLinks) {
        switch (ScanForValue(strFile, strPath, strValue, value)) {
        case Scan::kFound:
            return true;
        case Scan::kMissing:
            return false;
        case Scan::kLink:
            break;
        }
    }
    return false;
}

bool IsWin64Registry(std::string_view strFile)
{
    // The header's lines, before the first key.
    for (std::size_t nPos = 0; nPos < strFile.size() && strFile[nPos] != '[';) {
        std::size_t nEnd = strFile.find('\n', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = strFile.size();
        std::string_view strLine = strFile.substr(nPos, nEnd - nPos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.remove_suffix(1);
        if (strLine == "#arch=win64")
            return true;
        nPos = nEnd + 1;
    }
    return false;
}
