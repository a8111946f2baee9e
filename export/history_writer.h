// Appending one log entry's row to the history file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CLogEntry;

constexpr const char* kHistoryFileName = "VirusHist.csv";

// The event type of a virus event: the only entries that make a row.
constexpr int32_t kVirusEvent = 5;

// Appends the 13-field row of an entry of event type 5 to the history file, opening
// and closing the file for this row alone; any other entry leaves the file untouched.
// Returns false when the row could not be written whole (nothing of it then stays
// in the file).
bool WriteHistoryRow(const CLogEntry& entry);

// The row of an entry, fields joined by "," and ended by CR LF, into strRow.
void ComposeHistoryRow(const CLogEntry& entry, std::string& strRow);

// Appends one field: as it stands, or in double quotes (each quote doubled) when it
// holds a comma, a double quote, a CR or an LF.
void AppendCsvField(std::string& strRow, std::string_view strField);
