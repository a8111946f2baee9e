// Windows tool: the conversion tables of every system code page, as Windows'
// MultiByteToWideChar and WideCharToMultiByte (no best fit) convert, for
// tests/data/codepages.tsv. Run it under Wine:
//   wine build/mingw/codepage_table.exe > tests/data/codepages.tsv
// Lines are runs: "code page<TAB>direction<TAB>first input<TAB>first output<TAB>count",
// all hexadecimal, where the input and the output each grow by one along the run.
//   A: a character of the code page (one byte, or lead byte << 8 | trail byte) to
//      the UTF-16 unit it reads as. In a single-byte code page every byte reads as
//      one unit (a byte the code page leaves undefined as a private-use one); in a
//      double-byte one, a sequence that is invalid (reads as the default
//      character) is left out.
//   W: a UTF-16 unit to its bytes (as one number), where it has a form of its own;
//      units that become the default character are left out.
//   S: for 65001, sequences that are no UTF-8 (bytes in, UTF-16 units out, each
//      written as one hexadecimal string).
#include "platform/win32/windows_headers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace {

const unsigned kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                               1253, 1254, 1255, 1256, 1257, 1258, 65001};

// Writes runs of input -> output pairs as they come, merging consecutive ones.
class CRuns {
public:
    CRuns(unsigned nCodePage, char chDirection) : m_nCodePage(nCodePage), m_chDirection(chDirection) {}
    ~CRuns() { Flush(); }
    void Add(unsigned long nInput, unsigned long nOutput)
    {
        if (m_nCount > 0 && nInput == m_nInput + m_nCount && nOutput == m_nOutput + m_nCount) {
            ++m_nCount;
            return;
        }
        Flush();
        m_nInput = nInput;
        m_nOutput = nOutput;
        m_nCount = 1;
    }

private:
    void Flush()
    {
        if (m_nCount > 0)
            std::printf("%u\t%c\t%lx\t%lx\t%lx\n", m_nCodePage, m_chDirection, m_nInput, m_nOutput, m_nCount);
        m_nCount = 0;
    }
    unsigned m_nCodePage;
    char m_chDirection;
    unsigned long m_nInput = 0, m_nOutput = 0, m_nCount = 0;
};

std::string Hex(const void* pData, int nSize, int nUnit)
{
    std::string strHex;
    char szUnit[8];
    for (int i = 0; i < nSize; ++i) {
        const unsigned nValue = nUnit == 1 ? static_cast<const unsigned char*>(pData)[i]
                                           : static_cast<const wchar_t*>(pData)[i];
        std::snprintf(szUnit, sizeof(szUnit), nUnit == 1 ? "%02x" : "%04x", nValue);
        strHex += szUnit;
    }
    return strHex;
}

}  // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone
    for (unsigned nCodePage : kCodePages) {
        CPINFO info;
        if (!GetCPInfo(nCodePage, &info))
            continue;
        {
            CRuns runs(nCodePage, 'A');
            for (unsigned nFirst = 0; nFirst < 256; ++nFirst) {
                bool bLead = false;
                for (int i = 0; i < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
                    bLead = bLead || (nFirst >= info.LeadByte[i] && nFirst <= info.LeadByte[i + 1]);
                for (unsigned nTrail = bLead ? 0 : 256; nTrail < (bLead ? 256u : 257u); ++nTrail) {
                    char achIn[2] = {static_cast<char>(nFirst), static_cast<char>(nTrail)};
                    const int nIn = bLead ? 2 : 1;
                    wchar_t awOut[4];
                    if (nCodePage == 65001 && nFirst >= 0x80)
                        continue;  // UTF-8 sequences are not characters one by one
                    const DWORD dwFlags = info.MaxCharSize == 1 ? 0 : MB_ERR_INVALID_CHARS;
                    const int nOut = MultiByteToWideChar(nCodePage, dwFlags, achIn, nIn, awOut, 4);
                    if (nOut == 1)
                        runs.Add(bLead ? nFirst << 8 | nTrail : nFirst, awOut[0]);
                }
            }
        }
        {
            CRuns runs(nCodePage, 'W');
            for (unsigned nUnit = 1; nUnit < 0x10000; ++nUnit) {
                if (nUnit >= 0xD800 && nUnit < 0xE000)
                    continue;
                const wchar_t wChar = static_cast<wchar_t>(nUnit);
                unsigned char abyOut[8];
                BOOL bDefault = FALSE;
                const int nOut =
                    nCodePage == 65001
                        ? WideCharToMultiByte(nCodePage, 0, &wChar, 1, reinterpret_cast<char*>(abyOut), 8, nullptr, nullptr)
                        : WideCharToMultiByte(nCodePage, WC_NO_BEST_FIT_CHARS, &wChar, 1,
                                              reinterpret_cast<char*>(abyOut), 8, nullptr, &bDefault);
                if (nOut <= 0 || bDefault)
                    continue;
                unsigned long nBytes = 0;
                for (int i = 0; i < nOut; ++i)
                    nBytes = nBytes << 8 | abyOut[i];
                runs.Add(nUnit, nBytes);
            }
        }
    }
    // UTF-8 that is none, and lone surrogates, with the replacements Windows gives.
    static const char* const aszBad[] = {"80", "c3", "c328", "c0af", "e08080", "eda080", "f4908080", "f8888080",
                                         "41ff42", "e282"};
    for (const char* szHex : aszBad) {
        std::string strBytes;
        for (const char* p = szHex; p[0] && p[1]; p += 2)
            strBytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
        wchar_t awOut[16];
        const int nOut = MultiByteToWideChar(65001, 0, strBytes.data(), static_cast<int>(strBytes.size()), awOut, 16);
        std::printf("65001\tS\t%s\t%s\n", szHex, Hex(awOut, nOut, 2).c_str());
    }
    static const wchar_t aawSurrogates[][3] = {{0xD800, 0}, {0xDC00, 0}, {0x41, 0xDBFF, 0}};
    for (const wchar_t* pwText : aawSurrogates) {
        char achOut[16];
        const int nIn = static_cast<int>(wcslen(pwText));
        const int nOut = WideCharToMultiByte(65001, 0, pwText, nIn, achOut, 16, nullptr, nullptr);
        std::printf("65001\tU\t%s\t%s\n", Hex(pwText, nIn, 2).c_str(), Hex(achOut, nOut, 1).c_str());
    }
    return 0;
}
