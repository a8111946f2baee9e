// The display texts of the history export, keyed by catalogue id: the string table
// generated from resources/virushist.rc (cmake/string_table.cmake).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct CatalogueEntry {
    uint16_t wID;
    std::string_view strText;
};

// In the order of the resource file.
extern const CatalogueEntry g_aCatalogue[];
extern const unsigned g_nCatalogueSize;

// The text of nID in the table; false when the table has none.
bool FindStringTableText(uint32_t nID, std::string& strText);
