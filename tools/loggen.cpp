// Writes activity logs of the product's line format for tests, samples and
// benchmarks: deterministic from a seed, any total size, split over any number of
// files (one a day, its events in time order), with a chosen share of virus events.
//
//   loggen --out DIR [--seed N] [--bytes N] [--files N] [--virus-percent P]
//          [--name-base N]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct Random {
    uint64_t nState;
    uint64_t Next()
    {
        nState ^= nState << 13;
        nState ^= nState >> 7;
        nState ^= nState << 17;
        return nState;
    }
    int Below(int nLimit) { return static_cast<int>(Next() % static_cast<uint64_t>(nLimit)); }
    template <typename T, std::size_t N>
    const T& Pick(const T (&aItems)[N]) { return aItems[Below(static_cast<int>(N))]; }
};

const char* const kComputers[] = {"PC01", "PC-ACCT-17", "SRV-FILE2", "LAPTOP-9QX", "WS0042"};
const char* const kUsers[] = {"alice", "bob", "SYSTEM", "j.doe", "Administrator", ""};
const char* const kViruses[] = {"W32.Beagle.AB@mm", "Trojan.Dropper", "W97M.Melissa",
                                "Test.Virus", "EICAR Test String", "Bloodhound.Exe",
                                "Backdoor.Sub7", "VBS.LoveLetter"};
const char* const kFolders[] = {"C:\\Documents and Settings\\alice\\My Documents",
                                "C:\\WINDOWS\\system32",
                                "D:\\Shares\\Finance\\2001\\Quarter 4\\Reports",
                                "C:\\Program Files\\Office",
                                "E:\\Backup",
                                "C:\\Temp"};
const char* const kFiles[] = {"report.doc", "setup.exe", "budget.xls", "readme.txt",
                              "photo.scr", "invoice 2001.pdf.exe", "macro.dot"};
const char* const kContainers[] = {"C:\\Mail\\box.zip", "D:\\Downloads\\tools.cab",
                                   "C:\\Temp\\archive.rar"};
const int kScanTypes[] = {0, 1, 2, 3, 6, 7, 8, 9, 10, 4, 101, 101 | (1 << 16),
                          101 | (101 << 16), 102 | (102 << 16), 2, 2, 2, 1};
const int kActions[] = {1, 2, 3, 4, 5, 6, 13, 0, 7, 5, 5, 1, 1, 3};
const int kVirusTypes[] = {0, 0x1, 0x100, 0x300, 0x500, 0x700, 0x10000, 0x1000000,
                           static_cast<int>(0x80000001u), 0x200, 0x101, 0x100};
const int kOtherEvents[] = {2, 3, 4, 6, 7, 10, 21, 2, 4, 4};

// The day of a log file: the product writes one file a day, named after it.
struct Day {
    int nYear;
    int nMonth;  // 1 to 12
    int nDay;
};

Day DayOfFile(int nFile)
{
    return Day{2001 + nFile / 336, 1 + nFile % 12, 1 + (nFile / 12) % 28};
}

void AppendHexTime(std::string& strLine, const Day& day, long nSecond)
{
    char szTime[32];
    std::snprintf(szTime, sizeof(szTime), "%02X%02X%02X%02X%02X%02X", day.nYear - 1970,
                  day.nMonth - 1, day.nDay, static_cast<int>(nSecond / 3600),
                  static_cast<int>(nSecond / 60 % 60), static_cast<int>(nSecond % 60));
    strLine += szTime;
}

// The path column and the container columns (23, 24) that go with it.
void MakePath(Random& random, std::string& strPath, int& nContainerFlag, int& nContainerLevel)
{
    nContainerFlag = 0;
    nContainerLevel = 0;
    int nKind = random.Below(10);
    if (nKind < 6) {
        strPath = std::string(random.Pick(kFolders)) + "\\" + random.Pick(kFiles);
    } else if (nKind < 8) {
        nContainerFlag = 1;
        nContainerLevel = 1 + random.Below(2);
        strPath = std::string(random.Pick(kContainers)) + ">" +
                  (random.Below(2) ? "docs\\" : "") + random.Pick(kFiles);
    } else if (nKind < 9) {
        strPath = "\"C:\\Shares\\Sales, Europe\\" + std::string(random.Pick(kFiles)) + "\"";
    } else {
        // Container flag without a level: the description may stand as the status.
        nContainerFlag = 1;
        strPath = std::string(random.Pick(kFolders)) + "\\" + random.Pick(kFiles);
    }
}

void AppendLine(std::string& strLine, Random& random, bool bVirus, const Day& day, long nSecond)
{
    char szNumber[64];
    auto number = [&](long long nValue) {
        std::snprintf(szNumber, sizeof(szNumber), "%lld", nValue);
        strLine += szNumber;
    };
    std::string strPath;
    int nContainerFlag, nContainerLevel;
    MakePath(random, strPath, nContainerFlag, nContainerLevel);
    AppendHexTime(strLine, day, nSecond);
    strLine += ',';
    number(bVirus ? 5 : random.Pick(kOtherEvents));
    strLine += ',';
    number(random.Below(4));
    strLine += ',';
    number(random.Pick(kScanTypes));
    strLine += ',';
    strLine += random.Pick(kComputers);
    strLine += ',';
    strLine += random.Pick(kUsers);
    strLine += ',';
    strLine += bVirus || random.Below(4) == 0 ? random.Pick(kViruses) : "";
    strLine += ',';
    strLine += strPath;
    for (int nColumn = 8; nColumn <= 10; ++nColumn) {
        strLine += ',';
        number(random.Pick(kActions));
    }
    strLine += ',';
    number(random.Pick(kVirusTypes));
    strLine += ',';
    number(random.Below(5) == 0 ? 0x2000 : random.Below(3) * 16);
    strLine += ',';
    int nDescription = random.Below(10);
    if (nDescription < 5) {
        strLine += "\"Scan completed, ";
        number(random.Below(50000));
        strLine += " files scanned\"";
    } else if (nDescription < 8) {
        strLine += "\"Access denied\"";
    } else if (nDescription < 9) {
        strLine += "\"\"";
    } else {
        // Free text to the end of the line: no further columns.
        strLine += "Unable to repair, file in use by \"explorer.exe\", retry later";
        return;
    }
    // Columns 14 to 32.
    for (int nColumn = 14; nColumn <= 32; ++nColumn) {
        strLine += ',';
        switch (nColumn) {
        case 15: strLine += "{5AF3-11D2}"; break;
        case 17: strLine += random.Pick(kComputers); break;
        case 23: number(nContainerFlag); break;
        case 24: number(nContainerLevel); break;
        case 26:
            std::snprintf(szNumber, sizeof(szNumber), "%04d%02d%02d.%03d", 1999 + random.Below(10),
                          1 + random.Below(12), 1 + random.Below(28), random.Below(1000));
            strLine += szNumber;
            break;
        case 31: strLine += "GRP"; break;
        case 32: strLine += random.Below(2) ? "Default" : ""; break;
        default: number(random.Below(100000)); break;
        }
    }
}

// Makes the folder and those above it that are missing, as mkdir -p does; false
// with the reason when one cannot be made or is no folder.
bool MakeFolders(const std::string& strFolder, std::string& strError)
{
    std::error_code error;
    std::filesystem::create_directories(strFolder, error);
    if (!error && !std::filesystem::is_directory(strFolder, error))
        error = std::make_error_code(std::errc::not_a_directory);
    strError = error.message();
    return !error;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* szOut = nullptr;
    uint64_t nSeed = 1;
    long long nBytes = 1 << 20;
    int nFiles = 1;
    double dVirusPercent = 2.0;
    int nNameBase = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--out")) szOut = argv[i + 1];
        else if (!std::strcmp(argv[i], "--seed")) nSeed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--bytes")) nBytes = std::strtoll(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--files")) nFiles = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--virus-percent")) dVirusPercent = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--name-base")) nNameBase = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "loggen: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (szOut == nullptr || nFiles < 1 || nBytes < 0) {
        std::fprintf(stderr, "usage: loggen --out DIR [--seed N] [--bytes N] [--files N] "
                             "[--virus-percent P] [--name-base N]\n");
        return 2;
    }
    if (std::string strError; !MakeFolders(szOut, strError)) {
        std::fprintf(stderr, "%s: %s\n", szOut, strError.c_str());
        return 1;
    }
    Random random{nSeed * 0x9E3779B97F4A7C15ull + 1};
    const long long nPerFile = nBytes / nFiles;
    const uint64_t nVirusPer10k = static_cast<uint64_t>(dVirusPercent * 100.0);
    std::string strLine;
    std::string strChunk;
    for (int nFile = 0; nFile < nFiles; ++nFile) {
        const Day day = DayOfFile(nNameBase + nFile);
        char szPath[4096];
        std::snprintf(szPath, sizeof(szPath), "%s/%02d%02d%04d.log", szOut, day.nMonth, day.nDay,
                      day.nYear);
        std::FILE* pFile = std::fopen(szPath, "wb");
        if (pFile == nullptr) {
            std::perror(szPath);
            return 1;
        }
        long long nWritten = 0;
        strChunk.clear();
        while (nWritten < nPerFile) {
            strLine.clear();
            // The day's events in time order.
            const long nSecond =
                nPerFile > 0 ? static_cast<long>(nWritten * 86399 / nPerFile) : 0;
            AppendLine(strLine, random, random.Next() % 10000 < nVirusPer10k, day, nSecond);
            strLine += "\r\n";
            strChunk += strLine;
            nWritten += static_cast<long long>(strLine.size());
            if (strChunk.size() >= (1 << 20)) {
                std::fwrite(strChunk.data(), 1, strChunk.size(), pFile);
                strChunk.clear();
            }
        }
        std::fwrite(strChunk.data(), 1, strChunk.size(), pFile);
        // A write that failed before the last is kept in the stream's error flag.
        const bool bFailed = std::ferror(pFile) != 0;
        if (std::fclose(pFile) != 0 || bFailed) {
            std::perror(szPath);
            return 1;
        }
    }
    return 0;
}
