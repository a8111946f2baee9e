// The catalogue lookup over the compiled string table.
#include "export/catalogue.h"

#include <algorithm>

#include "resources/string_table.h"

std::string_view FindCatalogueText(uint32_t nID)
{
    const CatalogueEntry* pEnd = g_aCatalogue + g_nCatalogueSize;
    const CatalogueEntry* pEntry = std::lower_bound(
        g_aCatalogue, pEnd, nID,
        [](const CatalogueEntry& entry, uint32_t nKey) { return entry.wID < nKey; });
    if (pEntry == pEnd || pEntry->wID != nID)
        return {};
    return pEntry->strText;
}

bool LoadCatalogueString(std::string& strText, uint32_t nID)
{
    const std::string_view strFound = FindCatalogueText(nID);
    strText.assign(strFound);
    return !strFound.empty();
}
