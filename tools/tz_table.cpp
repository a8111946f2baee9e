// Windows tool: local times of a set of time zones converted to UTC as Windows
// converts them, the table the POSIX layer's conversion is checked against. For
// each zone it writes the zone's registry data, then, for every year from 1995 to
// 2035, the local times around each change of its offset (every 30 minutes from
// three hours before to three hours after, and the seconds either side) and the
// 15th of each month at noon. Run it under Wine:
//   wine build/mingw/tz_table.exe > tests/data/time_zones.tsv
// Lines: "zone<TAB>key<TAB>TZI<TAB>first year<TAB>year rules" (hexadecimal bytes,
// the year rules joined by ","), then "key<TAB>local<TAB>UTC" ("-" for a time
// Windows does not convert).
//
// Each year's rule is GetTimeZoneInformationForYear's, converted with
// TzSpecificLocalTimeToSystemTime: what TzSpecificLocalTimeToSystemTimeEx does
// with a zone's dynamic information. Wine 8 does not implement the Ex function
// (calling it ends the process).
#include "platform/win32/windows_headers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const aszZones[] = {
    L"Pacific Standard Time",     L"W. Europe Standard Time",        L"AUS Eastern Standard Time",
    L"India Standard Time",       L"Nepal Standard Time",            L"Newfoundland Standard Time",
    L"Iran Standard Time",        L"Morocco Standard Time",          L"Samoa Standard Time",
    L"UTC",                       L"E. South America Standard Time", L"Lord Howe Standard Time",
};
constexpr int kFirstYear = 1995;
constexpr int kLastYear = 2035;

std::string Narrow(const wchar_t* szText)
{
    char szNarrow[256];
    WideCharToMultiByte(CP_UTF8, 0, szText, -1, szNarrow, sizeof(szNarrow), nullptr, nullptr);
    return szNarrow;
}

std::string Hex(const BYTE* pData, DWORD nSize)
{
    std::string strHex;
    char szByte[3];
    for (DWORD i = 0; i < nSize; ++i) {
        std::snprintf(szByte, sizeof(szByte), "%02x", pData[i]);
        strHex += szByte;
    }
    return strHex;
}

// The zone's registry data as the POSIX layer reads it.
void WriteZone(const wchar_t* szZone)
{
    std::wstring strKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\";
    strKey += szZone;
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    BYTE abData[64];
    DWORD nSize = sizeof(abData);
    RegQueryValueExW(hKey, L"TZI", nullptr, nullptr, abData, &nSize);
    std::printf("zone\t%s\t%s", Narrow(szZone).c_str(), Hex(abData, nSize).c_str());
    HKEY hDynamic;
    DWORD nFirst = 0, nLast = 0;
    std::string strYears;
    if (RegOpenKeyExW(hKey, L"Dynamic DST", 0, KEY_READ, &hDynamic) == ERROR_SUCCESS) {
        DWORD nWord = sizeof(DWORD);
        RegQueryValueExW(hDynamic, L"FirstEntry", nullptr, nullptr, reinterpret_cast<BYTE*>(&nFirst), &nWord);
        nWord = sizeof(DWORD);
        RegQueryValueExW(hDynamic, L"LastEntry", nullptr, nullptr, reinterpret_cast<BYTE*>(&nLast), &nWord);
        for (DWORD nYear = nFirst; nYear <= nLast; ++nYear) {
            wchar_t szYear[16];
            swprintf(szYear, 16, L"%lu", nYear);
            nSize = sizeof(abData);
            RegQueryValueExW(hDynamic, szYear, nullptr, nullptr, abData, &nSize);
            strYears += (nYear == nFirst ? "" : ",") + Hex(abData, nSize);
        }
        RegCloseKey(hDynamic);
    }
    std::printf("\t%lu\t%s\n", nFirst, strYears.c_str());
    RegCloseKey(hKey);
}

ULONGLONG Ticks(const SYSTEMTIME& time)
{
    FILETIME fileTime;
    SystemTimeToFileTime(&time, &fileTime);
    return static_cast<ULONGLONG>(fileTime.dwHighDateTime) << 32 | fileTime.dwLowDateTime;
}

SYSTEMTIME FromTicks(ULONGLONG nTicks)
{
    FILETIME fileTime{static_cast<DWORD>(nTicks), static_cast<DWORD>(nTicks >> 32)};
    SYSTEMTIME time;
    FileTimeToSystemTime(&fileTime, &time);
    return time;
}

void WriteConversion(const std::string& strZone, const TIME_ZONE_INFORMATION& info, const SYSTEMTIME& local)
{
    SYSTEMTIME utc;
    std::printf("%s\t%04u-%02u-%02uT%02u:%02u:%02u\t", strZone.c_str(), local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond);
    if (TzSpecificLocalTimeToSystemTime(&info, &local, &utc))
        std::printf("%04u-%02u-%02uT%02u:%02u:%02u\n", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
                    utc.wSecond);
    else
        std::printf("-\n");
}

}  // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone
    constexpr ULONGLONG kMinute = 600000000ULL;
    for (const wchar_t* szZone : aszZones) {
        WriteZone(szZone);
        const std::string strZone = Narrow(szZone);
        DYNAMIC_TIME_ZONE_INFORMATION dynamic{};
        lstrcpyW(dynamic.TimeZoneKeyName, szZone);
        for (int nYear = kFirstYear; nYear <= kLastYear; ++nYear) {
            TIME_ZONE_INFORMATION info;
            if (!GetTimeZoneInformationForYear(static_cast<USHORT>(nYear), &dynamic, &info))
                continue;
            SYSTEMTIME start{};
            start.wYear = static_cast<WORD>(nYear);
            start.wMonth = 1;
            start.wDay = 1;
            const ULONGLONG nStart = Ticks(start);
            start.wYear = static_cast<WORD>(nYear + 1);
            const ULONGLONG nEnd = Ticks(start);
            // The offset of each local hour; where it changes, the hours around it.
            long long nLastOffset = 0;
            std::vector<ULONGLONG> anChanges;
            for (ULONGLONG nTime = nStart; nTime < nEnd; nTime += 60 * kMinute) {
                const SYSTEMTIME local = FromTicks(nTime);
                SYSTEMTIME utc;
                const long long nOffset = TzSpecificLocalTimeToSystemTime(&info, &local, &utc)
                                              ? static_cast<long long>(Ticks(utc) - nTime)
                                              : -1;
                if (nTime != nStart && nOffset != nLastOffset)
                    anChanges.push_back(nTime);
                nLastOffset = nOffset;
                if (local.wDay == 15 && local.wHour == 12)
                    WriteConversion(strZone, info, local);
            }
            for (ULONGLONG nChange : anChanges) {
                for (int nStep = -6; nStep <= 6; ++nStep)
                    WriteConversion(strZone, info, FromTicks(nChange + nStep * 30 * kMinute));
                for (ULONGLONG nSecond : {nChange - kMinute / 60, nChange - 60 * kMinute - kMinute / 60})
                    WriteConversion(strZone, info, FromTicks(nSecond));
            }
        }
    }
    return 0;
}
