// One line of the product's activity log, parsed into typed members, and the
// display texts the history export takes from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A moment of the log: years since 1970, month 0 = January, then day and time.
struct LOGTIME {
    uint8_t byYear;
    uint8_t byMonth;
    uint8_t byDay;
    uint8_t byHour;
    uint8_t byMinute;
    uint8_t bySecond;
    uint16_t wReserved;
};

// The short date of a log time in the system locale; empty when it cannot be formatted.
std::string FormatLogDate(const LOGTIME& time);

// The event types (column 1) the parser and the export tell apart.
constexpr int32_t kEventHoldTime = 2;          // holds its time, as held kind 1
constexpr int32_t kEventClearHeldTime = 3;     // zeroes the held time
constexpr int32_t kVirusEvent = 5;             // the only event that makes a row
constexpr int32_t kEventWithoutVirusType = 10; // its virus-type column is not read
constexpr int32_t kEventHoldTimeSecond = 21;   // holds its time, as held kind 2
// The kinds of held time, in m_nHeldKind.
constexpr int32_t kHeldKindFirst = 1;
constexpr int32_t kHeldKindSecond = 2;

// The two parts of a logged path: the file name and its location.
struct PATHPARTS {
    std::string_view strFileName;
    std::string_view strLocation;
    bool bFound;  // false for a container path without ">": neither part exists
};

class CLogEntry {
public:
    // Every member starts at zero (the line format leaves some unset until a line
    // writes them; zero is a defined start for all of them).
    CLogEntry() { Reset(); }

    // Zeroes the cross-line state a file's first line must find at zero. Only the
    // constructor calls it: nothing clears the entry between lines.
    void Reset();

    // The columns a parse stores: all of them, or only those the history row shows
    // (columns 0 to 13, and the container columns 23 and 24).
    enum ParseScope { kAllColumns, kRowColumns };

    // Refills the entry from one log line (without its line end), which must not be
    // one of the entry's own texts. Members that this line does not write keep the
    // values of earlier lines of the same file; with kRowColumns, so do the members
    // of the columns the row does not show.
    void ParseLine(std::string_view strLine, ParseScope scope = kAllColumns);

    // Display texts of the history row. The operations that take strText write their
    // result into it; the caller passes it empty.
    void GetDateText(std::string& strText) const;
    void GetFileNameText(std::string& strText) const;
    void GetVirusNameText(std::string& strText) const;
    void GetVirusTypeText(std::string& strText) const;
    void GetLocationText(std::string& strText) const;
    void GetStatusText(std::string& strText) const;
    void GetCurrentLocationText(std::string& strText, int32_t nQuarantineID,
                                int32_t nDeletedID) const;
    void GetScanTypeText(std::string& strText) const;
    void SplitPath(std::string& strFileName, std::string& strLocation) const;

    // The same texts returned as views, which the row is composed from without
    // copies: into the entry's own strings (valid while the entry is unchanged), into
    // the catalogue, into the virus-type texts kept for the run, or, for the date,
    // into the text of the last date formatted (valid until another date is).
    std::string_view GetDateText() const;
    std::string_view GetFileNameText() const;
    std::string_view GetVirusTypeText() const;
    std::string_view GetActionText(int32_t nAction, int32_t bTaken) const;
    std::string_view GetLocationText() const;
    std::string_view GetStatusText() const;
    std::string_view GetCurrentLocationText(int32_t nQuarantineID, int32_t nDeletedID) const;
    std::string_view GetScanTypeText() const;

    // m_strPath split once, as SplitPath splits it, into views of m_strPath; and the
    // location texts from such a split, so that a row takes all three from one.
    PATHPARTS GetPathParts() const;
    std::string_view GetLocationText(const PATHPARTS& parts) const;
    std::string_view GetCurrentLocationText(const PATHPARTS& parts, int32_t nQuarantineID,
                                            int32_t nDeletedID) const;

    LOGTIME m_Time{};
    LOGTIME m_HeldTime{};
    int32_t m_nCol2 = 0;
    int32_t m_nEvent = 0;
    int32_t m_nScanType = 0;
    int32_t m_nPrimaryAction = 0;
    int32_t m_nSecondaryAction = 0;
    int32_t m_nActionTaken = 0;
    int32_t m_nVirusType = 0;
    int32_t m_nCol14 = 0;
    int32_t m_nCol16 = 0;
    int32_t m_nHeldKind = 0;
    int32_t m_nCol18 = 0;
    int32_t m_nCol19 = 0;
    int32_t m_nCol20 = 0;
    int32_t m_nCol22 = 0;
    int32_t m_nContainerLevel = 0;
    int32_t m_nContainerFlag = 0;
    int32_t m_nCol25 = 0;
    uint32_t m_dwStampRevision = 0;
    uint16_t m_wStampDay = 0;
    uint16_t m_wStampMonth = 0;
    uint16_t m_wStampYear = 0;
    int32_t m_nCol27 = 0;
    int32_t m_nCol28 = 0;
    int32_t m_nCol29 = 0;
    int32_t m_nCol30 = 0;
    std::string m_strDescription;
    std::string m_strComputer;
    std::string m_strUser;
    std::string m_strPath;
    std::string m_strVirusName;
    std::string m_strCol17;
    std::string m_strCol15;
    std::string m_strCol31;
    std::string m_strCol32;
    int32_t m_nFlags = 0;
    int32_t m_nCol21 = 0;
    int32_t m_bUnquotedDescription = 0;

private:
    void ScanStamp(std::string_view strText);
};

// Column 0's time scan, as ParseLine stores it in m_Time: true when all six parts
// were read.
bool ScanLogTime(std::string_view strText, LOGTIME& time);

// The event type of a line, as ParseLine stores it in m_nEvent.
int32_t ReadEventType(std::string_view strLine);

// The C runtime's atoi, saturating at the limits of a 32-bit integer as the Windows
// runtime does: leading white space, an optional sign, then decimal digits.
int32_t ParseInteger(std::string_view strText);
