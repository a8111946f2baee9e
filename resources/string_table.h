// The display texts of the history export, keyed by catalogue id.
#pragma once

#include <cstdint>

struct CatalogueEntry {
    uint16_t wID;
    const char* szText;
};

// Sorted by id.
extern const CatalogueEntry g_aCatalogue[];
extern const unsigned g_nCatalogueSize;
