// The catalogue lookup over the compiled string table.
#include "export/catalogue.h"

#include <vector>

#include "resources/string_table.h"

std::string_view FindCatalogueText(uint32_t nID)
{
    // Every row looks up several texts: an index from each 16-bit id to its entry
    // (0 for none, else the entry's place plus one) makes that one step. Places are
    // 16-bit, as the ids are: a table of 8-bit places would cap the catalogue at 255.
    static const std::vector<uint16_t> awIndex = [] {
        std::vector<uint16_t> awPlaces(0x10000, 0);
        for (unsigned i = 0; i < g_nCatalogueSize; ++i)
            awPlaces[g_aCatalogue[i].wID] = static_cast<uint16_t>(i + 1);
        return awPlaces;
    }();
    if (nID >= awIndex.size() || awIndex[nID] == 0)
        return {};
    return g_aCatalogue[awIndex[nID] - 1].strText;
}

bool LoadCatalogueString(std::string& strText, uint32_t nID)
{
    const std::string_view strFound = FindCatalogueText(nID);
    strText.assign(strFound);
    return !strFound.empty();
}
