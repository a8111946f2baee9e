// Fuzz target: log lines of arbitrary bytes into the timeline, read as the text of
// each system code page in turn (a stand-in prefix per code page): the file must be
// UTF-8 throughout, and each line one JSON object, which the writer of a split run
// accepts as whole records (common/frames.h). Bytes of the input also serve as a
// time zone rule, which must convert or be refused, never fail.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "common/frames.h"
#include "export/timeline_writer.h"
#include "logentry/log_entry.h"
#include "platform/posix/locale/time_zone.h"
#include "platform/posix/system.h"

namespace {

const uint32_t kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                               1253, 1254, 1255, 1256, 1257, 1258, 65001};
constexpr std::size_t kCount = sizeof(kCodePages) / sizeof(kCodePages[0]);

// A prefix's registry with the code page and a zone, made once per code page.
// The folder of this run's stand-in prefixes and timeline, removed at exit (by its
// name in a plain buffer, which outlives every string).
char g_szWork[] = "/tmp/fuzz-timeline-XXXXXX";

const std::string& WorkFolder()
{
    static const std::string strRoot = [] {
        if (mkdtemp(g_szWork) != nullptr)
            std::atexit([] { std::filesystem::remove_all(g_szWork); });
        return std::string(g_szWork);
    }();
    return strRoot;
}

std::string PrefixOf(uint32_t nCodePage)
{
    const std::string strPrefix = WorkFolder() + "/" + std::to_string(nCodePage);
    mkdir(strPrefix.c_str(), 0700);
    std::ofstream(strPrefix + "/system.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\n\"ACP\"=\""
        << nCodePage << "\"\n\n[System\\\\CurrentControlSet\\\\Control\\\\TimeZoneInformation]\n"
        << "\"TimeZoneKeyName\"=\"Pacific Standard Time\"\n\n"
        << "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Time Zones\\\\Pacific Standard Time]\n"
        << "\"TZI\"=hex:e0,01,00,00,00,00,00,00,c4,ff,ff,ff,00,00,0b,00,00,00,01,00,02,00,00,00,00,00,00,00,00,"
           "00,03,00,00,00,02,00,02,00,00,00,00,00,00,00\n";
    return strPrefix;
}

bool ValidUtf8(std::string_view strText)
{
    for (std::size_t i = 0; i < strText.size();) {
        const unsigned char by = static_cast<unsigned char>(strText[i]);
        const std::size_t nLength = by < 0x80 ? 1 : by >= 0xC2 && by < 0xE0 ? 2 : by >= 0xE0 && by < 0xF0 ? 3
                                                : by >= 0xF0 && by < 0xF5 ? 4 : 0;
        if (nLength == 0 || i + nLength > strText.size())
            return false;
        uint32_t dwCode = nLength == 1 ? by : by & (0x7F >> nLength);
        for (std::size_t j = 1; j < nLength; ++j) {
            const unsigned char byNext = static_cast<unsigned char>(strText[i + j]);
            if ((byNext & 0xC0) != 0x80)
                return false;
            dwCode = dwCode << 6 | (byNext & 0x3F);
        }
        static constexpr uint32_t adwLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (dwCode < adwLeast[nLength] || dwCode > 0x10FFFF || (dwCode >= 0xD800 && dwCode < 0xE000))
            return false;
        i += nLength;
    }
    return true;
}

// A JSON value at p (RFC 8259), which it passes; false when there is none.
bool Value(const char*& p, const char* pEnd, int nDepth);

void Space(const char*& p, const char* pEnd)
{
    while (p < pEnd && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
        ++p;
}

bool String(const char*& p, const char* pEnd)
{
    if (p == pEnd || *p++ != '"')
        return false;
    while (p < pEnd && *p != '"') {
        if (static_cast<unsigned char>(*p) < 0x20)
            return false;
        if (*p++ == '\\') {
            if (p == pEnd)
                return false;
            const char ch = *p++;
            if (ch == 'u') {
                for (int i = 0; i < 4; ++i, ++p)
                    if (p == pEnd || !std::isxdigit(static_cast<unsigned char>(*p)))
                        return false;
            } else if (std::string_view("\"\\/bfnrt").find(ch) == std::string_view::npos) {
                return false;
            }
        }
    }
    return p++ < pEnd;
}

bool Value(const char*& p, const char* pEnd, int nDepth)
{
    Space(p, pEnd);
    if (p == pEnd || nDepth > 8)
        return false;
    if (*p == '"')
        return String(p, pEnd);
    if (*p == '{' || *p == '[') {
        const char chClose = *p++ == '{' ? '}' : ']';
        Space(p, pEnd);
        if (p < pEnd && *p == chClose)
            return ++p, true;
        while (true) {
            if (chClose == '}') {
                Space(p, pEnd);
                if (!String(p, pEnd))
                    return false;
                Space(p, pEnd);
                if (p == pEnd || *p++ != ':')
                    return false;
            }
            if (!Value(p, pEnd, nDepth + 1))
                return false;
            Space(p, pEnd);
            if (p == pEnd)
                return false;
            if (*p == chClose)
                return ++p, true;
            if (*p++ != ',')
                return false;
        }
    }
    for (std::string_view strWord : {"null", "true", "false"})
        if (std::string_view(p, static_cast<std::size_t>(pEnd - p)).substr(0, strWord.size()) == strWord)
            return p += strWord.size(), true;
    const char* const pStart = p;
    if (*p == '-')
        ++p;
    while (p < pEnd && std::isdigit(static_cast<unsigned char>(*p)))
        ++p;
    return p > pStart && p[-1] != '-';
}

bool IsJsonObject(std::string_view strLine)
{
    const char* p = strLine.data();
    const char* const pEnd = p + strLine.size();
    return !strLine.empty() && strLine[0] == '{' && Value(p, pEnd, 0) && p == pEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    if (nSize < 45)
        return 0;
    // The time zone rule: 44 bytes, converting a time of the input's own.
    TIMEZONE zone;
    if (ReadTziValue(std::string_view(reinterpret_cast<const char*>(pData) + 1, 44), zone.rule)) {
        int64_t nBias = 0;
        LocalBias(zone, 1995 + pData[1] % 50, 1 + pData[2] % 12, 1 + pData[3] % 28, pData[4] % 24, pData[5] % 60,
                  pData[6] % 60, nBias);
    }

    static uint32_t nOpenCodePage = 0;
    const uint32_t nCodePage = kCodePages[pData[0] % kCount];
    if (nCodePage != nOpenCodePage) {
        setenv("WINEPREFIX", PrefixOf(nCodePage).c_str(), 1);
        CSystem::Reopen();
        nOpenCodePage = nCodePage;
    }
    static const std::string strFile = WorkFolder() + "/timeline.jsonl";
    CTimelineWriter timeline;
    bool bHeld = false, bCreated = false;
    if (!timeline.Open(strFile.c_str(), &bHeld, &bCreated) || !timeline.Empty())
        std::abort();
    timeline.Start();
    std::string_view strInput(reinterpret_cast<const char*>(pData) + 1, nSize - 1);
    timeline.BeginFile(strInput.substr(0, 40));
    CLogEntry entry;
    for (uint32_t nLine = 1;; ++nLine) {
        const std::size_t nEnd = strInput.find('\n');
        const std::string_view strLine = strInput.substr(0, nEnd);
        const bool bVirus = ReadEventType(strLine) == kVirusEvent;
        if (bVirus)
            entry.ParseLine(strLine, CLogEntry::kRowColumns);
        if (!strLine.empty())
            timeline.WriteLine(nLine, strLine, bVirus ? &entry : nullptr);
        if (nEnd == std::string_view::npos)
            break;
        strInput.remove_prefix(nEnd + 1);
    }
    if (timeline.Close() != kTimelineWhole)
        std::abort();
    std::ifstream file(strFile, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const std::string strText = text.str();
    if (!ValidUtf8(strText) || (!strText.empty() && !AreWholeRecords(strText)))
        std::abort();
    std::istringstream lines(strText);
    for (std::string strLine; std::getline(lines, strLine);)
        if (!IsJsonObject(strLine))
            std::abort();
    return 0;
}
