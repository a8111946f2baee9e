// Finding the product's data folder: the registry's home directory, the shell's
// application-data folder and the product's numbered version folders.
#pragma once

#include <cstdint>

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_MORE_DATA = 234;
// The program's own codes carry bit 29, which Windows leaves to applications.
constexpr uint32_t ERR_PRODUCT_NOT_INSTALLED = 0x2000006A;
constexpr uint32_t ERR_DATA_FOLDER_NOT_FOUND = 0x2000001B;

constexpr int32_t DATA_FOLDER_COMMON = 1;
constexpr int32_t DATA_FOLDER_USER = 2;

// Shell folder ids.
constexpr int32_t CSIDL_APPDATA = 0x1A;
constexpr int32_t CSIDL_LOCAL_APPDATA = 0x1C;
constexpr int32_t CSIDL_COMMON_APPDATA = 0x23;
constexpr int32_t CSIDL_FLAG_CREATE = 0x8000;

// Overwritten by every GetProductDataFolder call.
extern char g_szUserName[48];
extern char g_szHomeDirectory[256];

// Writes the data folder into szBuffer (at least 260 bytes) and returns 0; or
// ERR_DATA_FOLDER_NOT_FOUND with the home directory in szBuffer; or, with szBuffer
// untouched, 87 (bad kind or null buffer), ERR_PRODUCT_NOT_INSTALLED, or a platform
// error code (the system directory or the shell library could not be had).
uint32_t GetProductDataFolder(int32_t nKind, char* szBuffer);

// Reads "Home Directory" of the product's key into szBuffer, zero-terminated.
uint32_t ReadHomeDirectory(char* szBuffer, uint32_t nSize);
bool IsPlatformNT();
bool IsOsVersion5OrLater();
// Swaps the "Default User" component of szPath (260 bytes) for the user's name when
// that path exists: 0 when it was replaced, 1 when szPath is unchanged.
int SubstituteDefaultUser(char* szPath);
bool PathExists(const char* szPath);
// The highest leading number above 7.499 among the sub-folders of szFolder, with that
// folder's name in szName (260 bytes); 0.0 when none qualifies.
double FindHighestVersionFolder(const char* szFolder, char* szName);
