// Loading display texts from the catalogue by id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The text of nID, which lives as long as the program; empty when the id is not in
// the catalogue (no catalogue text is empty).
std::string_view FindCatalogueText(uint32_t nID);

// Replaces strText with the text of nID and returns true; an id that is not in the
// catalogue empties strText and returns false.
bool LoadCatalogueString(std::string& strText, uint32_t nID);
