// The display texts of a log entry: one operation per field of the history row.
// Every fixed text comes from the catalogue by id.
#include <cstddef>

#include "export/catalogue.h"
#include "export/virus_type_flags.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kMailSystemFlag = 0x2000;

// The named virus types: a name shows when all bits of its mask are set.
constexpr struct {
    uint32_t dwMask;
    uint32_t nID;
} aVirusTypeNames[] = {
    {0x1, 5000},      {0x100, 5006},     {0x300, 5001},      {0x500, 5002},
    {0x10000, 5003},  {0x1000000, 5004}, {0x80000000, 5005},
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

bool CLogEntry::FindPathParts(std::string_view& strFileName, std::string_view& strLocation) const
{
    const std::string_view strPath = m_strPath;
    std::size_t nBackslash = strPath.rfind('\\');
    if (m_nContainerFlag != 0 && m_nContainerLevel != 0) {
        // Container form: "container>member"; the member may have folders of its own.
        std::size_t nMarker = strPath.rfind('>');
        if (nMarker == std::string_view::npos)
            return false;
        if (nBackslash == std::string_view::npos || nBackslash < nMarker) {
            // A member without folders: the location is the container itself.
            strLocation = strPath.substr(0, nMarker);
            strFileName = strPath.substr(nMarker + 1);
            return true;
        }
    } else if (nBackslash == std::string_view::npos) {
        strLocation = strPath;
        strFileName = strPath;
        return true;
    }
    strLocation = strPath.substr(0, nBackslash + 1);
    strFileName = strPath.substr(nBackslash + 1);
    return true;
}

void CLogEntry::SplitPath(std::string& strFileName, std::string& strLocation) const
{
    std::string_view strNamePart;
    std::string_view strLocationPart;
    if (!FindPathParts(strNamePart, strLocationPart))
        return;
    strFileName.assign(strNamePart);
    strLocation.assign(strLocationPart);
}

std::string_view CLogEntry::GetFileNameText() const
{
    std::string_view strNamePart;
    std::string_view strLocationPart;
    FindPathParts(strNamePart, strLocationPart);
    return strNamePart;
}

void CLogEntry::GetFileNameText(std::string& strText) const
{
    strText.assign(GetFileNameText());
}

std::string_view CLogEntry::GetLocationText() const
{
    if (m_nFlags & kMailSystemFlag)
        return FindCatalogueText(38);
    std::string_view strNamePart;
    std::string_view strLocationPart;
    FindPathParts(strNamePart, strLocationPart);
    return strLocationPart;
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
        LoadCatalogueString(strResult, 41);
        return strResult;
    }
    for (const auto& name : aVirusTypeNames) {
        if ((m_dwType & name.dwMask) != name.dwMask)
            continue;
        if (!strResult.empty())
            strResult += "; ";
        strResult += FindCatalogueText(name.nID);
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
    // outside the table are "Unknown action" (67).
    static const struct {
        uint16_t wTakenID;
        uint16_t wConfiguredID;
    } aActions[] = {
        {67, 67},     {4000, 32}, {4001, 33}, {4002, 34}, {4003, 35}, {4004, 31}, {66, 60},
        {67, 67},     {67, 67},   {67, 67},   {67, 67},   {67, 67},   {67, 67},
        {57668, 57668},
    };
    constexpr int32_t nActions = sizeof(aActions) / sizeof(aActions[0]);
    const auto& action = nAction >= 0 && nAction < nActions ? aActions[nAction] : aActions[0];
    return FindCatalogueText(bTaken ? action.wTakenID : action.wConfiguredID);
}

std::string_view CLogEntry::GetStatusText() const
{
    if (m_nActionTaken == 5)
        return FindCatalogueText(43);
    if (m_nActionTaken == 3)
        return FindCatalogueText(4002);
    if (m_nContainerFlag != 0 && m_nContainerLevel == 0 && !m_strDescription.empty())
        return m_strDescription;
    return FindCatalogueText(44);
}

void CLogEntry::GetStatusText(std::string& strText) const
{
    strText.assign(GetStatusText());
}

std::string_view CLogEntry::GetCurrentLocationText(int32_t nQuarantineID,
                                                   int32_t nDeletedID) const
{
    if (m_nActionTaken == 1)
        return FindCatalogueText(static_cast<uint32_t>(nQuarantineID));
    if (m_nActionTaken == 3)
        return FindCatalogueText(static_cast<uint32_t>(nDeletedID));
    return GetLocationText();
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
    if (nCode == 101 || nCode == 102)
        nCode = dwWord >> 16;
    // The ids of codes 0 to 10, 0 for a code not in the table; then 101 and 102.
    static const uint16_t awIDs[] = {3001, 3002, 3003, 3004, 0, 0, 3005, 3006, 3007, 3008, 3009};
    constexpr uint32_t nCodes = sizeof(awIDs) / sizeof(awIDs[0]);
    uint32_t nID = 0;
    if (nCode < nCodes)
        nID = awIDs[nCode];
    else if (nCode == 101)
        nID = 3000;
    else if (nCode == 102)
        nID = 3010;
    return nID != 0 ? FindCatalogueText(nID) : std::string_view();
}

void CLogEntry::GetScanTypeText(std::string& strText) const
{
    strText.assign(GetScanTypeText());
}
