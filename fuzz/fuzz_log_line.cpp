// Fuzz target: log lines through the parser, every formatter and the composed
// row, which must read back (RFC 4180) as exactly 13 fields ending in CR LF.
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
    std::string strRow;
    while (true) {
        std::size_t nEnd = strInput.find('\n');
        entry.ParseLine(strInput.substr(0, nEnd));
        entry.m_nEvent = 5;  // every line makes a row here
        ComposeHistoryRow(entry, strRow);
        if (strRow.size() < 2 || strRow.compare(strRow.size() - 2, 2, "\r\n") != 0 ||
            CountFields(std::string_view(strRow).substr(0, strRow.size() - 2)) != 13)
            std::abort();
        if (nEnd == std::string_view::npos)
            break;
        strInput.remove_prefix(nEnd + 1);
    }
    return 0;
}
