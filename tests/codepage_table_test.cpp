// Windows build: the code-page tables the POSIX layer is checked against are what
// MultiByteToWideChar and WideCharToMultiByte give, here and now.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(CodePageTable, AsWindowsConverts)
{
    std::ifstream file(VH_SOURCE_DIR "/tests/data/codepages.tsv");
    ASSERT_TRUE(file.good());
    std::string strLine;
    int nChecked = 0;
    while (std::getline(file, strLine)) {
        std::istringstream fields(strLine);
        unsigned nCodePage;
        std::string strDirection, strIn, strOut;
        unsigned long nCount = 0;
        fields >> nCodePage >> strDirection >> strIn >> strOut >> std::hex >> nCount;
        if (strDirection != "A" && strDirection != "W")
            continue;
        const unsigned long nIn = std::stoul(strIn, nullptr, 16), nOut = std::stoul(strOut, nullptr, 16);
        // Each run's first and last pair.
        for (unsigned long i : {0ul, nCount - 1}) {
            if (strDirection == "A") {
                const unsigned long nChar = nIn + i;
                const char achIn[2] = {static_cast<char>(nChar > 0xFF ? nChar >> 8 : nChar),
                                       static_cast<char>(nChar & 0xFF)};
                wchar_t wOut = 0;
                EXPECT_EQ(MultiByteToWideChar(nCodePage, 0, achIn, nChar > 0xFF ? 2 : 1, &wOut, 1), 1);
                EXPECT_EQ(static_cast<unsigned long>(wOut), nOut + i) << nCodePage << " A " << strLine;
            } else {
                const wchar_t wIn = static_cast<wchar_t>(nIn + i);
                unsigned char abyOut[8];
                BOOL bDefault = FALSE;
                const int nBytes =
                    nCodePage == CP_UTF8
                        ? WideCharToMultiByte(nCodePage, 0, &wIn, 1, reinterpret_cast<char*>(abyOut), 8, nullptr, nullptr)
                        : WideCharToMultiByte(nCodePage, WC_NO_BEST_FIT_CHARS, &wIn, 1,
                                              reinterpret_cast<char*>(abyOut), 8, nullptr, &bDefault);
                unsigned long nValue = 0;
                for (int j = 0; j < nBytes; ++j)
                    nValue = nValue << 8 | abyOut[j];
                EXPECT_FALSE(bDefault) << nCodePage << " W " << strLine;
                EXPECT_EQ(nValue, nOut + i) << nCodePage << " W " << strLine;
            }
            ++nChecked;
        }
    }
    EXPECT_GT(nChecked, 100000);
}

}  // namespace
