// The display texts of the history export, keyed by catalogue id.
#pragma once

#include <cstdint>
#include <string_view>

struct CatalogueEntry {
    uint16_t wID;
    std::string_view strText;
};

// Sorted by id.
extern const CatalogueEntry g_aCatalogue[];
extern const unsigned g_nCatalogueSize;
