// The display texts of a log entry: one operation per field of the history row.
// Every fixed text comes from the catalogue by id.
#include <cstddef>

#include "export/catalogue.h"
#include "export/virus_type_flags.h"
#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kMailSystemFlag = 0x2000;

}  // namespace

std::string FormatLogDate(const LOGTIME& time)
{
    // The short date shows, and both platforms check, the date alone; the events of
    // a log mostly share their day. The text of the last date is kept.
    static bool bKept = false;
    static LOGTIME keptDate{};
    static std::string strKept;
    if (bKept && time.byYear == keptDate.byYear && time.byMonth == keptDate.byMonth &&
        time.byDay == keptDate.byDay)
        return strKept;
    std::string strText;
    plat::FormatShortDate(time.byYear + 1970, time.byMonth + 1, time.byDay, time.byHour,
                          time.byMinute, time.bySecond, strText);
    bKept = true;
    keptDate = time;
    strKept = strText;
    return strText;
}

void CLogEntry::GetDateText(std::string& strText) const
{
    strText = FormatLogDate(m_Time);
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

void CLogEntry::GetFileNameText(std::string& strText) const
{
    std::string_view strNamePart;
    std::string_view strLocationPart;
    if (FindPathParts(strNamePart, strLocationPart))
        strText.assign(strNamePart);
}

void CLogEntry::GetLocationText(std::string& strText) const
{
    if (m_nFlags & kMailSystemFlag) {
        LoadCatalogueString(strText, 38);
        return;
    }
    std::string_view strNamePart;
    std::string_view strLocationPart;
    if (FindPathParts(strNamePart, strLocationPart))
        strText.assign(strLocationPart);
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
    static const struct {
        uint32_t dwMask;
        uint32_t nID;
    } aNames[] = {
        {0x1, 5000},      {0x100, 5006},     {0x300, 5001},      {0x500, 5002},
        {0x10000, 5003},  {0x1000000, 5004}, {0x80000000, 5005},
    };
    for (const auto& name : aNames) {
        if ((m_dwType & name.dwMask) != name.dwMask)
            continue;
        if (!strResult.empty())
            strResult += "; ";
        strResult += FindCatalogueText(name.nID);
    }
    return strResult;
}

void CLogEntry::GetVirusTypeText(std::string& strText) const
{
    // Assigned, not moved: the caller's buffer is kept for later rows.
    strText.assign(CVirusTypeFlags(static_cast<uint32_t>(m_nVirusType)).GetText());
}

std::string_view CLogEntry::GetActionText(int32_t nAction, int32_t bTaken) const
{
    static const struct {
        int32_t nAction;
        uint16_t wTakenID;
        uint16_t wConfiguredID;
    } aActions[] = {
        {1, 4000, 32}, {2, 4001, 33}, {3, 4002, 34}, {4, 4003, 35},
        {5, 4004, 31}, {6, 66, 60},   {13, 57668, 57668},
    };
    uint32_t nID = 67;  // "Unknown action"
    for (const auto& action : aActions) {
        if (action.nAction == nAction) {
            nID = bTaken ? action.wTakenID : action.wConfiguredID;
            break;
        }
    }
    return FindCatalogueText(nID);
}

void CLogEntry::GetStatusText(std::string& strText) const
{
    if (m_nActionTaken == 5)
        LoadCatalogueString(strText, 43);
    else if (m_nActionTaken == 3)
        LoadCatalogueString(strText, 4002);
    else if (m_nContainerFlag != 0 && m_nContainerLevel == 0 && !m_strDescription.empty())
        strText = m_strDescription;
    else
        LoadCatalogueString(strText, 44);
}

void CLogEntry::GetCurrentLocationText(std::string& strText, int32_t nQuarantineID,
                                       int32_t nDeletedID) const
{
    if (m_nActionTaken == 1)
        LoadCatalogueString(strText, static_cast<uint32_t>(nQuarantineID));
    else if (m_nActionTaken == 3)
        LoadCatalogueString(strText, static_cast<uint32_t>(nDeletedID));
    else
        GetLocationText(strText);
}

void CLogEntry::GetScanTypeText(std::string& strText) const
{
    const uint32_t dwWord = static_cast<uint32_t>(m_nScanType);
    uint32_t nCode = dwWord & 0xFFFF;
    if (nCode == 101 || nCode == 102)
        nCode = dwWord >> 16;
    static const struct {
        uint32_t nCode;
        uint16_t wID;
    } aScanTypes[] = {
        {0, 3001}, {1, 3002}, {2, 3003}, {3, 3004},  {6, 3005},   {7, 3006},
        {8, 3007}, {9, 3008}, {10, 3009}, {101, 3000}, {102, 3010},
    };
    uint32_t nID = 0;
    for (const auto& scanType : aScanTypes) {
        if (scanType.nCode == nCode)
            nID = scanType.wID;
    }
    if (nID != 0)
        LoadCatalogueString(strText, nID);
}
