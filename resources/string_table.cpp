// Looking a text up in the string table generated from virushist.rc.
#include "resources/string_table.h"

bool FindStringTableText(uint32_t nID, std::string& strText)
{
    for (unsigned i = 0; i < g_nCatalogueSize; ++i)
        if (g_aCatalogue[i].wID == nID) {
            strText.assign(g_aCatalogue[i].strText);
            return true;
        }
    return false;
}
