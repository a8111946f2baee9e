// The virus-type bit set of a log entry and its display names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CVirusTypeFlags {
public:
    explicit CVirusTypeFlags(uint32_t dwType) : m_dwType(dwType) {}

    // The names of the set bits joined by "; ", or "Checksum Failure" for the word 0.
    std::string GetText() const;
    // The same text as a view of a kept copy, valid for the whole run.
    std::string_view GetTextView() const;

    uint32_t m_dwType;
};
