// Fuzz target: log lines through the parser, every formatter and the composed
// row, which must read back (RFC 4180) as exactly 13 fields ending in CR LF. The
// export parses virus events only, and of them only the columns the row shows: its
// rows must be those of an entry that parsed every line whole, and the event type it
// reads must be the parser's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "export/history_writer.h"
#include "logentry/log_entry.h"

namespace {

// Counts the fields of one RFC 4180 row; -1 when it is malformed.
int CountFields(std::string_view strRow)
{
    int nFields = 1;
    bool bQuoted = false;
    bool bFieldStart = true;
    for (std::size_t i = 0; i < strRow.size(); ++i) {
        char ch = strRow[i];
        if (bQuoted) {
            if (ch == '"') {
                if (i + 1 < strRow.size() && strRow[i + 1] == '"')
                    ++i;
                else
                    bQuoted = false;
            }
        } else if (ch == '"') {
            if (!bFieldStart)
                return -1;  // a quote inside an unquoted field
            bQuoted = true;
        } else if (ch == ',') {
            ++nFields;
            bFieldStart = true;
            continue;
        } else if (ch == '\r' || ch == '\n') {
            return -1;  // a line end outside quotes
        }
        bFieldStart = false;
    }
    return bQuoted ? -1 : nFields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    // Each input is a file of lines: the entry carries state from line to line.
    std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    CLogEntry entry;
    CLogEntry virusEntry;  // as the export fills it: from virus events only
    std::string strRow;
    std::string strVirusRow;
    while (true) {
        std::size_t nEnd = strInput.find('\n');
        const std::string_view strLine = strInput.substr(0, nEnd);
        entry.ParseLine(strLine);
        if (ReadEventType(strLine) != entry.m_nEvent)
            std::abort();
        if (entry.m_nEvent == kVirusEvent) {
            virusEntry.ParseLine(strLine, CLogEntry::kRowColumns);
            ComposeHistoryRow(entry, strRow);
            ComposeHistoryRow(virusEntry, strVirusRow);
            if (strRow != strVirusRow)
                std::abort();
        }
        const int32_t nEvent = entry.m_nEvent;
        entry.m_nEvent = kVirusEvent;  // every line makes a row here
        ComposeHistoryRow(entry, strRow);
        entry.m_nEvent = nEvent;
        if (strRow.size() < 2 || strRow.compare(strRow.size() - 2, 2, "\r\n") != 0 ||
            CountFields(std::string_view(strRow).substr(0, strRow.size() - 2)) != 13)
            std::abort();
        if (nEnd == std::string_view::npos)
            break;
        strInput.remove_prefix(nEnd + 1);
    }
    return 0;
}
