// The Windows system the POSIX layer reads, opened once per run: a Wine prefix
// ($WINEPREFIX, else ~/.wine). It holds where the drives are, the registry, the
// code page and the locale settings; everything else in the layer asks it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/wine_registry.h"

class CSystem {
public:
    // The system of this run, opened on first use from the environment.
    static const CSystem& Get();
    // Opens the system again from the environment: for tests that make their own.
    static void Reopen();

    // Opens the Wine prefix in the folder strPrefix.
    explicit CSystem(std::string strPrefix);

    // The host folder of a drive letter's root, without a final "/".
    std::string DriveFolder(char chDrive) const;

    // A value of HKEY_LOCAL_MACHINE as RegQueryValueExA returns it (its status).
    uint32_t QueryMachineValue(std::string_view strSubKey, std::string_view strValue,
                               unsigned char* pData, uint32_t* pnSize) const;

    const CCodePage& CodePage() const { return *m_pCodePage; }

    // The short date picture of the system's settings; empty when it has none.
    const std::u16string& ShortDatePicture() const { return m_strDatePicture; }

private:
    bool FindMachineValue(std::string_view strSubKey, std::string_view strValue,
                          REGVALUE& value) const;

    std::string m_strPrefix;
    std::string m_strMachineRegistry;  // the text of system.reg; empty when missing
    std::unique_ptr<CCodePage> m_pCodePage;
    std::u16string m_strDatePicture;
};

// A stored value as RegQueryValueExA returns it: strings (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) converted from UTF-16 to the code page, other types as stored. On
// entry *pnSize is the capacity of pData, on return the value's size: 0, or
// ERROR_MORE_DATA with nothing copied when the value does not fit.
uint32_t CopyValueAnsi(const REGVALUE& value, const CCodePage& codePage, unsigned char* pData,
                       uint32_t* pnSize);

// The code page of an "ACP" value: its decimal number, 0 when it holds none.
uint32_t ParseCodePage(const REGVALUE& value);
