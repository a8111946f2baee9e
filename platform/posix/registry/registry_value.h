// registry/: the registry readers, each giving a value as stored: Wine's text
// registry files (wine_registry) and binary hives read with libhivex
// (hive_registry). Which key lives in which file is the system's (system.cpp).
//
// A registry value as stored, shared by the registry readers (Wine's text registry,
// binary hives) and the system that converts it for its callers.
#pragma once

#include <cstdint>
#include <string>

// Its type and its bytes, strings in UTF-16LE.
struct REGVALUE {
    uint32_t dwType = 0;
    std::string strBytes;
};
