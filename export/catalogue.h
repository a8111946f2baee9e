// Loading display texts from the catalogue by id.
#pragma once

#include <cstdint>
#include <string>

// Replaces strText with the text of nID and returns true; an id that is not in the
// catalogue empties strText and returns false.
bool LoadCatalogueString(std::string& strText, uint32_t nID);
