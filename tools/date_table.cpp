// Windows tool: the dates of tests/data/date_pictures.tsv as GetDateFormatW formats
// them. Reads date pictures from standard input, one a line in UTF-8, and writes
// "picture<TAB>yyyy-mm-dd<TAB>text" lines for a fixed set of dates. Run it under
// Wine to make the table the POSIX layer's picture formatter is checked against:
//   wine build/mingw/date_table.exe < pictures > tests/data/date_pictures.tsv
#include "platform/win32/windows_headers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

int main()
{
    // One- and two-digit days and months; years from 1970 to 2225, leap days.
    static const int aanDates[][3] = {
        {1970, 1, 1},   {1988, 6, 15}, {1999, 12, 31}, {2000, 2, 29}, {2001, 1, 5},
        {2001, 12, 25}, {2009, 9, 9},  {2010, 10, 10}, {2099, 11, 30}, {2100, 3, 1},
        {2225, 12, 31},
    };
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone
    char szLine[512];
    while (std::fgets(szLine, sizeof(szLine), stdin)) {
        std::string strPicture(szLine);
        while (!strPicture.empty() && (strPicture.back() == '\n' || strPicture.back() == '\r'))
            strPicture.pop_back();
        wchar_t szWide[256];
        if (MultiByteToWideChar(CP_UTF8, 0, strPicture.c_str(), -1, szWide, 256) == 0)
            continue;
        for (const auto& anDate : aanDates) {
            SYSTEMTIME time = {};
            time.wYear = static_cast<WORD>(anDate[0]);
            time.wMonth = static_cast<WORD>(anDate[1]);
            time.wDay = static_cast<WORD>(anDate[2]);
            wchar_t szDate[256];
            char szUtf8[768] = "";
            if (GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &time, szWide, szDate, 256) > 0)
                WideCharToMultiByte(CP_UTF8, 0, szDate, -1, szUtf8, sizeof(szUtf8), nullptr, nullptr);
            std::printf("%s\t%04d-%02d-%02d\t%s\n", strPicture.c_str(), anDate[0], anDate[1],
                        anDate[2], szUtf8);
        }
    }
    return 0;
}
