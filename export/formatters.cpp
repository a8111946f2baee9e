// The display texts of a log entry: one operation per field of the history row.
// Every fixed text comes from the catalogue by id.
#include <cstddef>

#include "common/mbstring.h"
#include "export/catalogue.h"
#include "export/virus_type_flags.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"
#include "resources/resource.h"

namespace {

constexpr int32_t kMailSystemFlag = 0x2000;  // in m_nFlags: found in the mail system

// The action codes the status and the current location test.
constexpr int32_t kActionQuarantine = 1;
constexpr int32_t kActionDelete = 3;
constexpr int32_t kActionClean = 5;

// Scan-type codes whose word holds the code in its high half.
constexpr uint32_t kScanClient = 101;
constexpr uint32_t kScanForwarded = 102;

// The named virus types: a name shows when all bits of its mask are set.
constexpr struct {
    uint32_t dwMask;
    uint16_t wID;
} aVirusTypeNames[] = {
    {0x1, IDS_TYPE_BOOT_SECTOR},          {0x100, IDS_TYPE_FILE},
    {0x300, IDS_TYPE_MUTATION},           {0x500, IDS_TYPE_MACRO},
    {0x10000, IDS_TYPE_MEMORY_RESIDENT},  {0x1000000, IDS_TYPE_VIRUS_BEHAVIOR},
    {0x80000000, IDS_TYPE_COMPRESSED_FILE},
};
constexpr std::size_t nVirusTypeNames = sizeof(aVirusTypeNames) / sizeof(aVirusTypeNames[0]);

// The short date of a log time, kept: the text shows, and both platforms check, the
// date alone, and the events of a log mostly share their day. Valid until the next
// call with another date.
const std::string& ShortDateOf(const LOGTIME& time)
{
    static bool bKept = false;
    static LOGTIME keptDate{};
    static std::string strKept;
    if (bKept && time.byYear == keptDate.byYear && time.byMonth == keptDate.byMonth &&
        time.byDay == keptDate.byDay)
        return strKept;
    plat::FormatShortDate(time.byYear + 1970, time.byMonth + 1, time.byDay, time.byHour,
                          time.byMinute, time.bySecond, strKept);
    bKept = true;
    keptDate = time;
    return strKept;
}

}  // namespace

std::string FormatLogDate(const LOGTIME& time)
{
    return ShortDateOf(time);
}

std::string_view CLogEntry::GetDateText() const
{
    return ShortDateOf(m_Time);
}

void CLogEntry::GetDateText(std::string& strText) const
{
    strText.assign(GetDateText());
}

PATHPARTS CLogEntry::GetPathParts() const
{
    // Separators are characters of their own: the trail byte of a two-byte character
    // is never one.
    const std::string_view strPath = m_strPath;
    const std::size_t nBackslash = MbsFindLastChar(strPath, '\\');
    if (m_nContainerFlag != 0 && m_nContainerLevel != 0) {
        // Container form: "container>member"; the member may have folders of its own.
        const std::size_t nMarker = MbsFindLastChar(strPath, '>');
        if (nMarker == std::string_view::npos)
            return PATHPARTS{{}, {}, false};
        if (nBackslash == std::string_view::npos || nBackslash < nMarker) {
            // A member without folders: the location is the container itself.
            return PATHPARTS{strPath.substr(nMarker + 1), strPath.substr(0, nMarker), true};
        }
    } else if (nBackslash == std::string_view::npos) {
        return PATHPARTS{strPath, strPath, true};
    }
    return PATHPARTS{strPath.substr(nBackslash + 1), strPath.substr(0, nBackslash + 1), true};
}

void CLogEntry::SplitPath(std::string& strFileName, std::string& strLocation) const
{
    const PATHPARTS parts = GetPathParts();
    if (!parts.bFound)
        return;
    strFileName.assign(parts.strFileName);
    strLocation.assign(parts.strLocation);
}

std::string_view CLogEntry::GetFileNameText() const
{
    return GetPathParts().strFileName;
}

void CLogEntry::GetFileNameText(std::string& strText) const
{
    strText.assign(GetFileNameText());
}

std::string_view CLogEntry::GetLocationText(const PATHPARTS& parts) const
{
    if (m_nFlags & kMailSystemFlag)
        return FindCatalogueText(IDS_MAIL_SYSTEM);
    return parts.strLocation;
}

std::string_view CLogEntry::GetLocationText() const
{
    return GetLocationText(GetPathParts());
}

void CLogEntry::GetLocationText(std::string& strText) const
{
    strText.assign(GetLocationText());
}

void CLogEntry::GetVirusNameText(std::string& strText) const
{
    strText = m_strVirusName;
}

std::string CVirusTypeFlags::GetText() const
{
    std::string strResult;
    if (m_dwType == 0) {
        LoadCatalogueString(strResult, IDS_CHECKSUM_FAILURE);
        return strResult;
    }
    for (const auto& name : aVirusTypeNames) {
        if ((m_dwType & name.dwMask) != name.dwMask)
            continue;
        if (!strResult.empty())
            strResult += "; ";
        strResult += FindCatalogueText(name.wID);
    }
    return strResult;
}

std::string_view CVirusTypeFlags::GetTextView() const
{
    // The text depends only on which names show, or on the word being 0: each of
    // those 129 texts is built the first time it is needed and kept.
    static std::string astrTexts[(1u << nVirusTypeNames) + 1];
    static bool abBuilt[(1u << nVirusTypeNames) + 1];
    std::size_t nKey = 1u << nVirusTypeNames;
    if (m_dwType != 0) {
        nKey = 0;
        for (std::size_t i = 0; i < nVirusTypeNames; ++i)
            nKey |= std::size_t{(m_dwType & aVirusTypeNames[i].dwMask) ==
                                aVirusTypeNames[i].dwMask}
                    << i;
    }
    if (!abBuilt[nKey]) {
        astrTexts[nKey] = GetText();
        abBuilt[nKey] = true;
    }
    return astrTexts[nKey];
}

void CLogEntry::GetVirusTypeText(std::string& strText) const
{
    strText.assign(GetVirusTypeText());
}

std::string_view CLogEntry::GetVirusTypeText() const
{
    return CVirusTypeFlags(static_cast<uint32_t>(m_nVirusType)).GetTextView();
}

std::string_view CLogEntry::GetActionText(int32_t nAction, int32_t bTaken) const
{
    // The ids of actions 0 to 13, taken and configured; codes 7 to 12 and any code
    // outside the table are "Unknown action".
    static const struct {
        uint16_t wTakenID;
        uint16_t wConfiguredID;
    } aActions[] = {
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_QUARANTINED, IDS_QUARANTINE_INFECTED_FILE},
        {IDS_RENAMED, IDS_RENAME_INFECTED_FILE},
        {IDS_DELETED, IDS_DELETE_INFECTED_FILE},
        {IDS_LEFT_ALONE, IDS_LEAVE_ALONE},
        {IDS_CLEANED, IDS_CLEAN_VIRUS_FROM_FILE},
        {IDS_CLEANED_OR_MACROS_DELETED, IDS_CLEAN_OR_DELETE_MACROS},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_UNKNOWN_ACTION, IDS_UNKNOWN_ACTION},
        {IDS_BACKUP, IDS_BACKUP},
    };
    constexpr int32_t nActions = sizeof(aActions) / sizeof(aActions[0]);
    const auto& action = nAction >= 0 && nAction < nActions ? aActions[nAction] : aActions[0];
    return FindCatalogueText(bTaken ? action.wTakenID : action.wConfiguredID);
}

std::string_view CLogEntry::GetStatusText() const
{
    if (m_nActionTaken == kActionClean)
        return FindCatalogueText(IDS_STATUS_CLEANED);
    if (m_nActionTaken == kActionDelete)
        return FindCatalogueText(IDS_DELETED);
    if (m_nContainerFlag != 0 && m_nContainerLevel == 0 && !m_strDescription.empty())
        return m_strDescription;
    return FindCatalogueText(IDS_STATUS_INFECTED);
}

void CLogEntry::GetStatusText(std::string& strText) const
{
    strText.assign(GetStatusText());
}

std::string_view CLogEntry::GetCurrentLocationText(const PATHPARTS& parts,
                                                   int32_t nQuarantineID,
                                                   int32_t nDeletedID) const
{
    if (m_nActionTaken == kActionQuarantine)
        return FindCatalogueText(static_cast<uint32_t>(nQuarantineID));
    if (m_nActionTaken == kActionDelete)
        return FindCatalogueText(static_cast<uint32_t>(nDeletedID));
    return GetLocationText(parts);
}

std::string_view CLogEntry::GetCurrentLocationText(int32_t nQuarantineID,
                                                   int32_t nDeletedID) const
{
    return GetCurrentLocationText(GetPathParts(), nQuarantineID, nDeletedID);
}

void CLogEntry::GetCurrentLocationText(std::string& strText, int32_t nQuarantineID,
                                       int32_t nDeletedID) const
{
    strText.assign(GetCurrentLocationText(nQuarantineID, nDeletedID));
}

std::string_view CLogEntry::GetScanTypeText() const
{
    const uint32_t dwWord = static_cast<uint32_t>(m_nScanType);
    uint32_t nCode = dwWord & 0xFFFF;
    if (nCode == kScanClient || nCode == kScanForwarded)
        nCode = dwWord >> 16;
    // The ids of codes 0 to 10, 0 for a code not in the table; then the two codes
    // that name where the scan came from.
    static const uint16_t awIDs[] = {
        IDS_SCAN_SCHEDULED, IDS_SCAN_MANUAL,  IDS_SCAN_REALTIME,
        IDS_SCAN_SEALWEIR,  0,                0,
        IDS_SCAN_CONSOLE,   IDS_SCAN_DEFINITION_DOWNLOADER, IDS_SCAN_SYSTEM,
        IDS_SCAN_STARTUP,   IDS_SCAN_IDLE,
    };
    constexpr uint32_t nCodes = sizeof(awIDs) / sizeof(awIDs[0]);
    uint32_t nID = 0;
    if (nCode < nCodes)
        nID = awIDs[nCode];
    else if (nCode == kScanClient)
        nID = IDS_SCAN_CLIENT;
    else if (nCode == kScanForwarded)
        nID = IDS_SCAN_FORWARDED;
    return nID != 0 ? FindCatalogueText(nID) : std::string_view();
}

void CLogEntry::GetScanTypeText(std::string& strText) const
{
    strText.assign(GetScanTypeText());
}
