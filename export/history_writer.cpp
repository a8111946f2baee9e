// The history writer: one row per virus event, appended with one write so that the
// file only ever holds whole rows.
#include "export/history_writer.h"

#include <algorithm>
#include <array>

#include "logentry/log_entry.h"
#include "platform/platform.h"
#include "resources/resource.h"

namespace {

// Cuts the file back by the nWritten bytes a short write left of a row. A failed cut
// is tried once more.
bool CutBack(plat::File* pFile, long long nWritten)
{
    for (int nTry = 0; nTry < 2; ++nTry) {
        const long long nSize = plat::FileSize(pFile);
        if (nSize >= nWritten && plat::TruncateFile(pFile, nSize - nWritten))
            return true;
    }
    return false;
}

// The most characters a field can take in the row: quoted, every character a quote.
std::size_t MaxFieldSize(std::string_view strField)
{
    return 2 * strField.size() + 2;
}

// Writes a field that needs no quotes at p and returns the end of what it wrote.
char* CopyField(char* p, std::string_view strField)
{
    return std::copy(strField.begin(), strField.end(), p);
}

// Writes one field at p, which has room for MaxFieldSize, and returns the end of
// what it wrote: the text as it stands, or, when it holds a comma, a double quote, a
// CR or an LF, in double quotes with each inner quote doubled.
char* WriteCsvField(char* p, std::string_view strField)
{
    static constexpr auto abSpecial = [] {
        std::array<bool, 256> ab{};
        ab[','] = ab['"'] = ab['\r'] = ab['\n'] = true;
        return ab;
    }();
    // Copied and looked through in one pass: most fields stand as they are.
    bool bSpecial = false;
    char* pEnd = p;
    for (char ch : strField) {
        *pEnd++ = ch;
        bSpecial |= abSpecial[static_cast<unsigned char>(ch)];
    }
    if (!bSpecial)
        return pEnd;
    *p++ = '"';
    for (char ch : strField) {
        *p++ = ch;
        if (ch == '"')
            *p++ = '"';
    }
    *p++ = '"';
    return p;
}

}  // namespace

void AppendCsvField(std::string& strRow, std::string_view strField)
{
    const std::size_t nStart = strRow.size();
    strRow.resize(nStart + MaxFieldSize(strField));
    char* const pStart = strRow.data() + nStart;
    strRow.resize(nStart + static_cast<std::size_t>(WriteCsvField(pStart, strField) - pStart));
}

const char* const g_aszHistoryFieldNames[kHistoryFields] = {
    "date",   "file_name",         "virus_name", "virus_type",       "action_taken",     "computer",  "user",
    "original_location", "status", "current_location", "primary_action", "secondary_action", "scan_type",
};

void GetHistoryFields(const CLogEntry& entry, HISTORYFIELD (&aFields)[kHistoryFields])
{
    // The virus-type, action and scan-type fields are always catalogue texts; the
    // others may be texts of the log or of the locale. The file name and both
    // locations come from one split of the path.
    const PATHPARTS parts = entry.GetPathParts();
    aFields[0] = {entry.GetDateText(), false};
    aFields[1] = {parts.strFileName, false};
    aFields[2] = {entry.m_strVirusName, false};
    aFields[3] = {entry.GetVirusTypeText(), true};
    aFields[4] = {entry.GetActionText(entry.m_nActionTaken, 1), true};
    aFields[5] = {entry.m_strComputer, false};
    aFields[6] = {entry.m_strUser, false};
    aFields[7] = {entry.GetLocationText(parts), false};
    aFields[8] = {entry.GetStatusText(), false};
    aFields[9] = {entry.GetCurrentLocationText(parts, IDS_QUARANTINE, IDS_DELETED), false};
    aFields[10] = {entry.GetActionText(entry.m_nPrimaryAction, 0), true};
    aFields[11] = {entry.GetActionText(entry.m_nSecondaryAction, 0), true};
    aFields[12] = {entry.GetScanTypeText(), true};
}

void ComposeHistoryRow(const CLogEntry& entry, std::string& strRow)
{
    HISTORYFIELD aFields[kHistoryFields];
    GetHistoryFields(entry, aFields);
    // Sized for the longest row the fields can make, then written in place and cut
    // to what was written.
    std::size_t nMaxSize = 2;
    for (const auto& field : aFields)
        nMaxSize += MaxFieldSize(field.strText) + 1;
    strRow.resize(nMaxSize);
    char* const pRow = strRow.data();
    char* p = pRow;
    for (const auto& field : aFields) {
        p = field.bCatalogue ? CopyField(p, field.strText) : WriteCsvField(p, field.strText);
        *p++ = ',';
    }
    p[-1] = '\r';  // the last field ends the row
    *p++ = '\n';
    strRow.resize(static_cast<std::size_t>(p - pRow));
}

namespace {

void (*g_pHandRowOn)(std::string_view strRow) = nullptr;

}  // namespace

void HandRowsOn(void (*pHandOn)(std::string_view strRow))
{
    g_pHandRowOn = pHandOn;
}

RowResult WriteHistoryRow(const CLogEntry& entry)
{
    if (entry.m_nEvent != kVirusEvent)
        return kRowWritten;
    // Composed in a buffer kept between rows, so a row costs no allocation. The
    // program runs on one thread.
    static std::string strRow;
    ComposeHistoryRow(entry, strRow);
    if (g_pHandRowOn != nullptr) {
        g_pHandRowOn(strRow);
        return kRowWritten;
    }
    return AppendHistoryRow(strRow);
}

RowResult AppendHistoryRow(std::string_view strRow)
{
    plat::File* pFile = plat::OpenForAppend(kHistoryFileName);
    if (pFile == nullptr)
        return kRowLost;
    const long long nWritten = plat::AppendFile(pFile, strRow.data(), strRow.size());
    RowResult result = kRowWritten;
    if (nWritten != static_cast<long long>(strRow.size()))
        result = nWritten > 0 && !CutBack(pFile, nWritten) ? kRowDamaged : kRowLost;
    plat::CloseFile(pFile);
    return result;
}
