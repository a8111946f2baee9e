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

// Reads "Home Directory" of the product's key into szBuffer, zero-terminated, from
// the first registry view of RegistryViews that holds it.
uint32_t ReadHomeDirectory(char* szBuffer, uint32_t nSize);
// Whether the system is 64-bit Windows: a 64-bit process, or a 32-bit one that
// IsWow64Process says runs under WOW64.
bool IsSystem64Bit();
// The registry views the product's key is read from, in order, as the view flag
// each is opened with: on 64-bit Windows the 32-bit view, where the product (a
// 32-bit program) keeps it, then the 64-bit view; on 32-bit Windows the one
// registry, with no flag (Windows 2000 refuses them). Returns how many.
int RegistryViews(uint32_t adwViews[2]);
bool IsPlatformNT();
bool IsOsVersion5OrLater();
// Swaps the "Default User" component of szPath (260 bytes) for the user's name when
// that path exists: 0 when it was replaced, 1 when szPath is unchanged.
int SubstituteDefaultUser(char* szPath);
bool PathExists(const char* szPath);
// The highest leading number above 7.499 among the sub-folders of szFolder, with that
// folder's name in szName (260 bytes); 0.0 when none qualifies.
double FindHighestVersionFolder(const char* szFolder, char* szName);
