# Generates the string table of the Linux build (and of the unit tests) from the
# STRINGTABLE of resources/virushist.rc, the one source of the catalogue's texts:
#   cmake -DRC=virushist.rc -DOUT=string_table.cpp -P string_table.cmake
file(STRINGS "${RC}" lines ENCODING UTF-8)
set(in_table FALSE)
set(entries "")
foreach(line IN LISTS lines)
  if(line MATCHES "^STRINGTABLE")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^END")
    set(in_table FALSE)
  elseif(in_table AND line MATCHES "^[ \t]*(IDS_[A-Z0-9_]+)[ \t]+\"(.*)\"[ \t]*$")
    # A quote is written twice in a resource string.
    string(REPLACE "\"\"" "\\\"" text "${CMAKE_MATCH_2}")
    string(APPEND entries "    {${CMAKE_MATCH_1}, \"${text}\"},\n")
  endif()
endforeach()
if(entries STREQUAL "")
  message(FATAL_ERROR "${RC}: no STRINGTABLE entries")
endif()
file(WRITE "${OUT}.part"
"// Generated from resources/virushist.rc by cmake/string_table.cmake: do not edit.
#include \"resources/string_table.h\"

#include \"resources/resource.h\"

const CatalogueEntry g_aCatalogue[] = {
${entries}};

const unsigned g_nCatalogueSize = sizeof(g_aCatalogue) / sizeof(g_aCatalogue[0]);
")
# Rewritten only when it changes, so that nothing rebuilds for nothing.
file(COPY_FILE "${OUT}.part" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.part")
