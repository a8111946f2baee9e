// Windows build: the table of dates the POSIX layer's picture formatter is checked
// against is what GetDateFormatW gives for each picture, here and now.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& strUtf8)
{
    wchar_t szWide[512];
    int nLength = MultiByteToWideChar(CP_UTF8, 0, strUtf8.c_str(), -1, szWide, 512);
    return nLength > 0 ? std::wstring(szWide) : std::wstring();
}

TEST(DateTable, AsGetDateFormatWGivesIt)
{
    std::ifstream file(VH_SOURCE_DIR "/tests/data/date_pictures.tsv", std::ios::binary);
    ASSERT_TRUE(file.good());
    std::string strLine;
    int nRows = 0;
    while (std::getline(file, strLine)) {
        const std::size_t nFirst = strLine.find('\t');
        const std::size_t nSecond = strLine.find('\t', nFirst + 1);
        ASSERT_NE(nSecond, std::string::npos) << strLine;
        const std::string strPicture = strLine.substr(0, nFirst);
        const std::string strDate = strLine.substr(nFirst + 1, nSecond - nFirst - 1);
        SYSTEMTIME time = {};
        time.wYear = static_cast<WORD>(std::stoi(strDate.substr(0, 4)));
        time.wMonth = static_cast<WORD>(std::stoi(strDate.substr(5, 2)));
        time.wDay = static_cast<WORD>(std::stoi(strDate.substr(8, 2)));
        wchar_t szDate[256] = L"";
        GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &time, Wide(strPicture).c_str(), szDate, 256);
        EXPECT_EQ(std::wstring(szDate), Wide(strLine.substr(nSecond + 1))) << strPicture << " " << strDate;
        ++nRows;
    }
    EXPECT_GE(nRows, 500);
}

}  // namespace
