// The catalogue lookup over the executable's string table, as the platform loads it.
#include "export/catalogue.h"

#include <deque>
#include <vector>

#include "platform/platform.h"

std::string_view FindCatalogueText(uint32_t nID)
{
    // Every row looks up several texts: each id's text is loaded once and kept, and
    // an index from each 16-bit id to it (-1 not yet loaded, -2 none, else its
    // place) makes every later lookup one step.
    static std::vector<int32_t> anIndex(0x10000, -1);
    static std::deque<std::string> astrTexts;
    if (nID >= anIndex.size())
        return {};
    if (anIndex[nID] == -1) {
        std::string strText;
        if (plat::LoadStringResource(nID, strText) && !strText.empty()) {
            astrTexts.push_back(std::move(strText));
            anIndex[nID] = static_cast<int32_t>(astrTexts.size() - 1);
        } else {
            anIndex[nID] = -2;
        }
    }
    return anIndex[nID] < 0 ? std::string_view() : std::string_view(astrTexts[anIndex[nID]]);
}

bool LoadCatalogueString(std::string& strText, uint32_t nID)
{
    const std::string_view strFound = FindCatalogueText(nID);
    strText.assign(strFound);
    return !strFound.empty();
}
