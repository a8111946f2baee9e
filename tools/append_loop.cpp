// The benchmark's baseline for writing rows: appends each row of a history file to
// another file with one open, one write and one close, as bare as the system allows,
// and prints the number of rows and the seconds the loop took.
//
//   append_loop ROWS_FILE OUT_FILE
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool AppendRow(const char* szPath, const std::string& strRow)
{
#ifdef _WIN32
    HANDLE hFile = CreateFileA(szPath, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    bool bWhole = WriteFile(hFile, strRow.data(), static_cast<DWORD>(strRow.size()), &dwWritten,
                            nullptr) &&
                  dwWritten == strRow.size();
    CloseHandle(hFile);
    return bWhole;
#else
    int nFd = open(szPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (nFd < 0)
        return false;
    bool bWhole = write(nFd, strRow.data(), strRow.size()) == static_cast<ssize_t>(strRow.size());
    close(nFd);
    return bWhole;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: append_loop ROWS_FILE OUT_FILE\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    const std::string strAll{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
    // Rows end with CR LF; each one is written on its own.
    std::vector<std::string> rows;
    for (std::size_t nStart = 0; nStart < strAll.size();) {
        std::size_t nEnd = strAll.find("\r\n", nStart);
        nEnd = nEnd == std::string::npos ? strAll.size() : nEnd + 2;
        rows.emplace_back(strAll, nStart, nEnd - nStart);
        nStart = nEnd;
    }
    std::remove(argv[2]);

    const auto start = std::chrono::steady_clock::now();
    for (const std::string& strRow : rows) {
        if (!AppendRow(argv[2], strRow)) {
            std::fprintf(stderr, "append_loop: cannot write %s\n", argv[2]);
            return 1;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%zu %.6f\n", rows.size(), elapsed.count());
    return 0;
}
