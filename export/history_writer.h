// Appending one log entry's row to the history file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CLogEntry;

constexpr const char* kHistoryFileName = "VirusHist.csv";

// What became of a row.
enum RowResult {
    kRowWritten,  // written whole; or the entry makes no row
    kRowLost,     // not written, and nothing of it is in the file
    kRowDamaged,  // a write failed part-way and the file could not be cut back: it
                  // ends in part of this row
};

// Appends the 13-field row of an entry of event type 5 to the history file, opening
// and closing the file for this row alone; any other entry leaves the file untouched.
RowResult WriteHistoryRow(const CLogEntry& entry);
// Appends one whole row (ending in CR LF) as WriteHistoryRow does: a row that
// cannot be written whole is cut back out of the file.
RowResult AppendHistoryRow(std::string_view strRow);
// In the reader of a split run, each row goes to pHandOn instead of the file, and
// counts as written; null writes rows to the file again.
void HandRowsOn(void (*pHandOn)(std::string_view strRow));

// The 13 fields of an entry's row, in their order, and their names in the timeline.
constexpr std::size_t kHistoryFields = 13;
struct HISTORYFIELD {
    std::string_view strText;
    bool bCatalogue;  // a catalogue text, which never needs quotes
};
void GetHistoryFields(const CLogEntry& entry, HISTORYFIELD (&aFields)[kHistoryFields]);
extern const char* const g_aszHistoryFieldNames[kHistoryFields];

// The row of an entry, fields joined by "," and ended by CR LF, into strRow.
void ComposeHistoryRow(const CLogEntry& entry, std::string& strRow);

// Appends one field: as it stands, or in double quotes (each quote doubled) when it
// holds a comma, a double quote, a CR or an LF.
void AppendCsvField(std::string& strRow, std::string_view strField);
