// Finding the product's data folder: the registry's home directory, the shell's
// application-data folder and the product's numbered version folders.
#pragma once

#include <cstdint>

#include "platform/codes.h"

// Which shell folder the product's data lives under.
constexpr int32_t DATA_FOLDER_COMMON = 1;
constexpr int32_t DATA_FOLDER_USER = 2;

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
