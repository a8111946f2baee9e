// The Windows system the POSIX layer reads, opened once per run. Three kinds:
//  - a Windows system drive mounted on this host, or a disk image read without
//    mounting it ($VIRUSHIST_SYSTEM_DRIVE, which wins, names the folder or the image
//    file; $VIRUSHIST_SYSTEM_VOLUME the image's Windows volume by its start sector
//    where it has more than one): C:\ is that folder or volume, the registry its
//    own hives under Windows\System32\config, its settings as Windows keeps them
//    there, no user logged on; nothing on it is ever written by this layer;
//  - a Wine prefix ($WINEPREFIX, else ~/.wine): its drives under dosdevices, its
//    text registry, the shell folders, version and user Wine reports.
// It holds where the drives are (their volumes), the registry sources, the code page and the locale
// settings; everything else in the layer asks it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/locale/codepage.h"
#include "platform/posix/locale/time_zone.h"
#include "platform/posix/registry/hive_registry.h"
#include "platform/posix/registry/wine_registry.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/volumes/volume.h"

class CSystem {
public:
    // The system of this run, opened on first use from the environment.
    static const CSystem& Get();
    // Opens the system again from the environment: for tests that make their own.
    static void Reopen();

    // A prefix; strVolume, VIRUSHIST_SYSTEM_VOLUME, must be empty for one.
    static std::unique_ptr<CSystem> OpenPrefix(const std::string& strPrefix, const std::string& strVolume = "");
    // A folder or an image file; strVolume the image's Windows volume by its start
    // sector, or empty.
    static std::unique_ptr<CSystem> OpenDrive(const std::string& strDrive, const std::string& strVolume = "");

    // Why the system cannot be read, naming the file and the reason; empty when it
    // can.
    const std::string& Error() const { return m_strError; }

    // The volume and root folder (without a final "/") of a drive letter; no volume
    // for a drive the system does not have.
    VOLUMEPATH Drive(char chDrive) const;

    // A value of HKEY_LOCAL_MACHINE as RegQueryValueExA returns it (its status),
    // opened in the registry view dwView (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY).
    uint32_t QueryMachineValue(std::string_view strSubKey, std::string_view strValue,
                               unsigned char* pData, uint32_t* pnSize, uint32_t dwView = 0) const;
    // Whether the system is 64-bit Windows, whose registry has a 32-bit view: a
    // prefix of arch win64, a drive whose SOFTWARE hive has a Wow6432Node key.
    bool Is64Bit() const { return m_b64Bit; }

    const CCodePage& CodePage() const { return *m_pCodePage; }
    // The short date picture of the system's settings; empty when it has none.
    const std::u16string& ShortDatePicture() const { return m_strDatePicture; }
    // The calendar of the system's settings ("iCalendarType", CAL_GREGORIAN when
    // none), and the days its "AddHijriDate" adds to a Hijri date.
    int Calendar() const { return m_nCalendar; }
    int HijriAdjustment() const { return m_nHijriAdjustment; }
    uint32_t MajorVersion() const { return m_nMajorVersion; }
    // In the code page: the system directory, and the all-users application-data
    // folder (empty when the system does not say).
    const std::string& SystemDirectory() const { return m_strSystemDirectory; }
    const std::string& CommonAppData() const { return m_strCommonAppData; }
    // A Wine prefix runs as the login user; a mounted drive has no user logged on.
    bool HasLoggedOnUser() const { return !m_bDrive; }

    // The time zone the system keeps its clock in, read on first use; null when it
    // keeps none (no TimeZoneInformation, or neither its values nor its zone's TZI).
    const TIMEZONE* TimeZone() const;
    // The shadow copies of an image's Windows volume, opened on first use, oldest
    // first (none for any other system); strError when they cannot be read at all.
    const std::vector<SHADOWCOPY>& ShadowCopies(std::string& strError) const;
    // The view drive C: is read in: 0 the live volume, else the readable shadow
    // copy of that number.
    void ReadShadowCopy(unsigned nNumber) const;
    // What reading this system may still open once the process is confined:
    // read-only beneath a prefix or a drive folder; an image's own files.
    void Confinement(CONFINEMENT& confinement) const;
    // Where the system was read from, as named (the prefix, the drive folder or
    // the image file), and an image's Windows volume by its start sector.
    const std::string& Name() const { return m_strName; }
    const std::string& Volume() const { return m_strVolume; }

private:
    CSystem() = default;
    void OpenDriveRegistry(const std::string& strVolume);
    // The calendar settings beside the short date picture.
    void SetCalendar(const std::u16string& strType, const std::u16string& strHijriAdjustment);
    bool FindDriveValue(std::string_view strSubKey, std::string_view strValue, REGVALUE& value,
                        CHive::Found& found) const;
    // A value of HKEY_LOCAL_MACHINE as stored; false when missing or unreadable.
    bool FindMachineValue(std::string_view strSubKey, std::string_view strValue, REGVALUE& value) const;
    std::unique_ptr<TIMEZONE> ReadTimeZone() const;
    // A setting of the drive's hives that must be a string (or a number), or
    // absent: false, with the error set, when it is of another type.
    bool ReadString(const CHive& hive, const std::string& strHive, std::string_view strKey,
                    std::string_view strValue, std::u16string& strText, bool& bFound);

    bool m_bDrive = false;
    bool m_b64Bit = false;
    std::string m_strRoot;             // the prefix, or the drive's root on its volume
    const CVolume* m_pVolume = &HostVolume();
    std::unique_ptr<CVolume> m_pImage;  // a disk image's Windows volume
    std::string m_strMachineRegistry;  // a prefix's system.reg; empty when missing
    std::unique_ptr<CHive> m_pSoftware;
    std::unique_ptr<CHive> m_pSystemHive;
    std::string m_strControlSet;       // of a drive: "ControlSet001", as Select says
    std::string m_strError;
    const CCodePage* m_pCodePage = nullptr;
    std::u16string m_strDatePicture;
    int m_nCalendar = 1;
    int m_nHijriAdjustment = 0;
    uint32_t m_nMajorVersion = 6;
    std::string m_strSystemDirectory = "C:\\windows\\system32";
    std::string m_strCommonAppData = "C:\\ProgramData";
    std::string m_strName;
    std::string m_strVolume;
    mutable bool m_bTimeZoneRead = false;
    mutable std::unique_ptr<TIMEZONE> m_pTimeZone;
    // Read from the image's volume: closed before it.
    mutable bool m_bShadowCopiesOpened = false;
    mutable std::vector<SHADOWCOPY> m_aShadowCopies;
    mutable std::string m_strShadowError;
    mutable const CVolume* m_pShadowVolume = nullptr;  // the view of drive C:, when not the live one
};

// The system the environment names, as lines name it (the prefix, the drive
// folder or the image file, made absolute), found without opening it.
std::string NamedSystem();
// How each line the layer says begins: "virushist: ", that system, ": ".
std::string LinePrefix();
// What reading that system may open, found without reading any of it: the folders
// to read beneath (a prefix and the folders its drive links lead to, but for the
// host's root; a drive folder; an image's folder, as named and where its link
// leads), or the files alone (an image that is a device); bImage when it names a
// file, a disk image.
void ReadingPlaces(std::vector<std::string>& astrFolders, std::vector<std::string>& astrFiles, bool& bImage);

// A stored value as RegQueryValueExA returns it: strings (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) converted from UTF-16 to the code page, other types as stored. On
// entry *pnSize is the capacity of pData, on return the value's size: 0, or
// ERROR_MORE_DATA with nothing copied when the value does not fit.
uint32_t CopyValueAnsi(const REGVALUE& value, const CCodePage& codePage, unsigned char* pData,
                       uint32_t* pnSize);

// The code page of an "ACP" value: its decimal number, 0 when it holds none.
uint32_t ParseCodePage(const REGVALUE& value);
