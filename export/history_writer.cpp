// The history writer: one row per virus event, appended with one write so that the
// file only ever holds whole rows.
#include "export/history_writer.h"

#include <cstring>

#include "logentry/log_entry.h"
#include "platform/platform.h"

namespace {

constexpr int32_t nQuarantineID = 45;  // "Quarantine"
constexpr int32_t nDeletedID = 4002;   // "Deleted"

// Whether the text from nPos on holds a comma, a double quote, a CR or an LF. The C
// library's strcspn finds those fast; it also stops at a NUL, which inside a field
// is only passed over.
bool NeedsQuotesFrom(const std::string& strText, std::size_t nPos)
{
    while (nPos < strText.size()) {
        nPos += std::strcspn(strText.c_str() + nPos, ",\"\r\n");
        if (nPos < strText.size() && strText[nPos] != '\0')
            return true;
        ++nPos;
    }
    return false;
}

}  // namespace

void AppendCsvField(std::string& strRow, std::string_view strField)
{
    // Most fields go in as they stand: appended first, then checked in the row,
    // whose own terminator ends the scan.
    const std::size_t nStart = strRow.size();
    strRow.append(strField);
    if (!NeedsQuotesFrom(strRow, nStart))
        return;
    // Each inner quote doubled: the text up to and with it, then one more.
    strRow.resize(nStart);
    strRow += '"';
    std::size_t nFrom = 0;
    for (std::size_t nQuote; (nQuote = strField.find('"', nFrom)) != std::string_view::npos;
         nFrom = nQuote + 1) {
        strRow.append(strField.substr(nFrom, nQuote + 1 - nFrom));
        strRow += '"';
    }
    strRow.append(strField.substr(nFrom));
    strRow += '"';
}

void ComposeHistoryRow(const CLogEntry& entry, std::string& strRow)
{
    strRow.clear();
    // Kept between rows, as the row is: a field then costs no allocation.
    static std::string strText;
    auto addField = [&](std::string_view strField, char chAfter) {
        AppendCsvField(strRow, strField);
        strRow += chAfter;
    };
    auto fieldOf = [&](void (CLogEntry::*pFormatter)(std::string&) const) -> const std::string& {
        strText.clear();
        (entry.*pFormatter)(strText);
        return strText;
    };
    addField(fieldOf(&CLogEntry::GetDateText), ',');
    addField(fieldOf(&CLogEntry::GetFileNameText), ',');
    addField(fieldOf(&CLogEntry::GetVirusNameText), ',');
    addField(fieldOf(&CLogEntry::GetVirusTypeText), ',');
    addField(entry.GetActionText(entry.m_nActionTaken, 1), ',');
    addField(entry.m_strComputer, ',');
    addField(entry.m_strUser, ',');
    addField(fieldOf(&CLogEntry::GetLocationText), ',');
    addField(fieldOf(&CLogEntry::GetStatusText), ',');
    strText.clear();
    entry.GetCurrentLocationText(strText, nQuarantineID, nDeletedID);
    addField(strText, ',');
    addField(entry.GetActionText(entry.m_nPrimaryAction, 0), ',');
    addField(entry.GetActionText(entry.m_nSecondaryAction, 0), ',');
    AppendCsvField(strRow, fieldOf(&CLogEntry::GetScanTypeText));
    strRow += "\r\n";
}

bool WriteHistoryRow(const CLogEntry& entry)
{
    if (entry.m_nEvent != kVirusEvent)
        return true;
    // Composed in a buffer kept between rows, so a row costs no allocation. The
    // program runs on one thread.
    static std::string strRow;
    ComposeHistoryRow(entry, strRow);

    plat::File* pFile = plat::OpenForAppend(kHistoryFileName);
    if (pFile == nullptr)
        return false;
    long long nWritten = plat::AppendFile(pFile, strRow.data(), strRow.size());
    const bool bWhole = nWritten == static_cast<long long>(strRow.size());
    if (!bWhole && nWritten > 0) {
        // A short write: cut the file back to its length before this row.
        long long nSize = plat::FileSize(pFile);
        if (nSize >= nWritten)
            plat::TruncateFile(pFile, nSize - nWritten);
    }
    plat::CloseFile(pFile);
    return bWhole;
}
