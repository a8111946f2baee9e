// The numbers Windows gives a meaning, named once: status codes, shell folder ids,
// file attributes, the platform id, registry access and value types. On Windows they are the
// Windows headers' own; elsewhere they are defined here with the same values. The
// program's own status codes stand beside them.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include "platform/win32/windows_headers.h"
#else
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_BAD_FILE_TYPE = 222;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr uint32_t ERROR_BADDB = 1009;
constexpr uint32_t ERROR_BADKEY = 1010;

constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057);

constexpr int32_t CSIDL_APPDATA = 0x1A;
constexpr int32_t CSIDL_LOCAL_APPDATA = 0x1C;
constexpr int32_t CSIDL_COMMON_APPDATA = 0x23;
constexpr int32_t CSIDL_FLAG_CREATE = 0x8000;

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
constexpr uint32_t KEY_WOW64_32KEY = 0x0200;

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
#endif

// The program's own codes carry bit 29, which Windows leaves to applications, so
// they never collide with a code from GetLastError.
constexpr uint32_t ERR_PRODUCT_NOT_INSTALLED = 0x2000006A;
constexpr uint32_t ERR_DATA_FOLDER_NOT_FOUND = 0x2000001B;
