// Opening the system: for a Wine prefix its registry files, for a mounted drive its
// hives and the settings Windows keeps in them; each read once.
#include "platform/posix/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codes.h"
#include "platform/posix/locale/calendar.h"

namespace {

constexpr uint32_t kDefaultCodePage = 1252;
constexpr const char* kCodePageKey = "System\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr const char* kInternationalKey = "Control Panel\\International";
constexpr const char* kWindowsKey = "Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kShellFoldersKey = "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kProfileListKey = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr const char* kTimeZoneKey = "System\\CurrentControlSet\\Control\\TimeZoneInformation";
constexpr const char* kTimeZonesKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\";
constexpr uint32_t kMaxDynamicYears = 1000;  // a longer Dynamic DST table is damaged
constexpr std::size_t kMaxSettingLength = 259;  // a path, or a picture, in UTF-16 units
constexpr off_t kMaxRegistryFile = 256 << 20;  // a Wine registry file; real ones are tens of MiB

// Registry names are ASCII here: widened as they stand.
std::u16string Widen(std::string_view strText)
{
    return std::u16string(strText.begin(), strText.end());
}

bool IsStringType(uint32_t dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

// The leading decimal number of a setting (a code page, a calendar type), 0 when it
// has none.
uint32_t LeadingNumber(std::u16string_view strText)
{
    uint32_t nCodePage = 0;
    for (char16_t wChar : strText) {
        if (wChar < u'0' || wChar > u'9' || nCodePage > 100000)
            break;
        nCodePage = nCodePage * 10 + static_cast<uint32_t>(wChar - u'0');
    }
    return nCodePage;
}

// A stored string up to its terminating zero.
std::u16string StoredString(const std::string& strBytes)
{
    std::u16string strText = Utf16FromBytes(strBytes);
    strText.resize(std::char_traits<char16_t>::length(strText.c_str()));
    return strText;
}


// Replaces %name% by its value in a path setting (case-insensitive names).
std::u16string Expand(std::u16string strText, std::u16string_view strName, std::u16string_view strValue)
{
    for (std::size_t nPos = 0; nPos + strName.size() <= strText.size(); ++nPos) {
        bool bMatch = true;
        for (std::size_t i = 0; i < strName.size() && bMatch; ++i) {
            char16_t a = strText[nPos + i], b = strName[i];
            auto lower = [](char16_t ch) { return ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch + 32) : ch; };
            bMatch = lower(a) == lower(b);
        }
        if (bMatch) {
            strText.replace(nPos, strName.size(), strValue);
            nPos += strValue.size() - 1;
        }
    }
    return strText;
}

// A path as a record names it: relative ones made absolute.
std::string AbsolutePath(const std::string& strPath)
{
    if (strPath.empty() || strPath[0] == '/')
        return strPath;
    char szFolder[4096];
    return getcwd(szFolder, sizeof(szFolder)) != nullptr ? std::string(szFolder) + "/" + strPath : strPath;
}

bool ReadDword(const REGVALUE& value, uint32_t& dwValue)
{
    if (value.dwType != REG_DWORD || value.strBytes.size() != 4)
        return false;
    std::memcpy(&dwValue, value.strBytes.data(), 4);
    return true;
}

std::unique_ptr<CSystem>& CurrentSystem()
{
    static std::unique_ptr<CSystem> pSystem;
    return pSystem;
}

// The system the environment names: a drive or image (bDrive), else a prefix. An
// empty variable counts as unset.
std::string NamedPath(bool& bDrive)
{
    bDrive = false;
    if (const char* szDrive = std::getenv("VIRUSHIST_SYSTEM_DRIVE"); szDrive && *szDrive) {
        bDrive = true;
        return szDrive;
    }
    if (const char* szPrefix = std::getenv("WINEPREFIX"); szPrefix && *szPrefix)
        return szPrefix;
    const char* szHome = std::getenv("HOME");
    return std::string(szHome ? szHome : "") + "/.wine";
}

std::unique_ptr<CSystem> FromEnvironment()
{
    const char* const szVolume = std::getenv("VIRUSHIST_SYSTEM_VOLUME");
    const std::string strVolume = szVolume ? szVolume : "";
    bool bDrive = false;
    const std::string strPath = NamedPath(bDrive);
    return bDrive ? CSystem::OpenDrive(strPath, strVolume) : CSystem::OpenPrefix(strPath, strVolume);
}

// A path with every link followed; empty when it leads nowhere.
std::string RealPath(const std::string& strPath)
{
    char* szReal = realpath(strPath.c_str(), nullptr);
    const std::string strReal = szReal != nullptr ? szReal : "";
    std::free(szReal);
    return strReal;
}

// Reads a registry text file whole: a regular file of at most kMaxRegistryFile
// bytes. Empty with strError naming what it is otherwise; a missing file is empty.
std::string ReadRegistryFile(const std::string& strPrefix, const char* szName, std::string& strError)
{
    const std::string strPath = strPrefix + "/" + szName;
    uint32_t dwError = 0;
    mode_t nType = 0;
    const int nFd = OpenHostRegularFile(strPath, &dwError, nType);
    if (nFd < 0) {
        if (nType != 0)
            strError = std::string(szName) + ": not a regular file (" + DescribeFileType(nType) + "); not read";
        else if (errno != ENOENT)
            strError = std::string(szName) + ": cannot be read (" + std::strerror(errno) + ")";
        return std::string();
    }
    std::string strText;
    struct stat info;
    if (fstat(nFd, &info) != 0)
        strError = std::string(szName) + ": cannot be read (" + std::strerror(errno) + ")";
    else if (info.st_size > kMaxRegistryFile)
        strError = std::string(szName) + ": larger than " + std::to_string(kMaxRegistryFile >> 20) + " MiB; not read";
    if (strError.empty()) {
        strText.resize(static_cast<std::size_t>(info.st_size));
        std::size_t nDone = 0;
        while (nDone < strText.size()) {
            const ssize_t nRead = read(nFd, &strText[nDone], strText.size() - nDone);
            if (nRead < 0 && errno == EINTR)
                continue;
            if (nRead <= 0)
                break;
            nDone += static_cast<std::size_t>(nRead);
        }
        strText.resize(nDone);
    }
    close(nFd);
    return strText;
}

}  // namespace


std::string NamedSystem()
{
    bool bDrive = false;
    return AbsolutePath(NamedPath(bDrive));
}

std::string LinePrefix()
{
    return "virushist: " + NamedSystem() + ": ";
}

namespace {

// Whether strPath is strFolder or lies beneath it.
bool IsWithin(const std::string& strPath, const std::string& strFolder)
{
    return strPath.compare(0, strFolder.size(), strFolder) == 0 &&
           (strPath.size() == strFolder.size() || strFolder == "/" || strPath[strFolder.size()] == '/');
}

// Whether a prefix's drive that leads outside it may be read: never the host's
// system folders, a folder above the prefix (the case folder around it), the home
// folder of the user running the run (and of the user who ran sudo) or a folder
// above it, nor a hidden folder of that home or anything in one, whatever a
// prefix's links say (a prefix may come from the evidence).
bool MayReadDrive(const std::string& strTarget, const std::string& strPrefix,
                  const std::vector<std::string>& astrHomes)
{
    if (!strPrefix.empty() && IsWithin(strPrefix, strTarget))
        return false;
    static const char* const kSystemFolders[] = {"/proc", "/sys", "/dev", "/etc", "/run", "/boot", "/root",
                                                 "/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32",
                                                 "/var", "/snap", "/lost+found"};
    for (const char* szFolder : kSystemFolders)
        if (IsWithin(strTarget, szFolder))
            return false;
    for (const std::string& strHome : astrHomes) {
        if (IsWithin(strHome, strTarget))
            return false;  // the home, or a folder above it
        if (IsWithin(strTarget, strHome) && strTarget.size() > strHome.size() + 1 &&
            strTarget[strHome.size() + (strHome == "/" ? 0 : 1)] == '.')
            return false;  // in a hidden folder of the home
    }
    return true;
}

// The homes a prefix's drives may not lead to: the account's, HOME's, and the
// account's of the user who ran sudo, each with every link followed.
std::vector<std::string> UserHomes()
{
    std::vector<std::string> astrHomes;
    const auto add = [&astrHomes](const char* szHome) {
        if (szHome != nullptr && *szHome != '\0')
            if (std::string strHome = RealPath(szHome); !strHome.empty())
                astrHomes.push_back(std::move(strHome));
    };
    if (const passwd* pUser = getpwuid(getuid()); pUser != nullptr)
        add(pUser->pw_dir);
    add(std::getenv("HOME"));
    if (const char* szSudoUser = std::getenv("SUDO_USER"); szSudoUser != nullptr)
        if (const passwd* pUser = getpwnam(szSudoUser); pUser != nullptr)
            add(pUser->pw_dir);
    return astrHomes;
}

}  // namespace

void ReadingPlaces(std::vector<std::string>& astrFolders, std::vector<std::string>& astrFiles, bool& bImage)
{
    bool bDrive = false;
    const std::string strPath = AbsolutePath(NamedPath(bDrive));
    struct stat info;
    bImage = bDrive && stat(strPath.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    if (bImage && !S_ISREG(info.st_mode)) {
        // A disk itself: that device alone, not its folder's others.
        astrFiles.push_back(strPath);
        return;
    }
    if (bImage) {
        // The image's own files alone, never the folder around them: the writer
        // hands over what the image names inside (a backing file) when asked.
        astrFiles = ImageFiles(strPath);
        return;
    }
    astrFolders.push_back(strPath);
    if (bDrive)
        return;
    // A prefix's drives are its system's, wherever their links lead; but not the
    // host's own folders, nor the user's home or what it hides.
    const std::string strPrefix = RealPath(strPath);
    const std::vector<std::string> astrHomes = UserHomes();
    const std::string strDevices = strPath + "/dosdevices";
    if (DIR* pDevices = opendir(strDevices.c_str())) {
        while (const dirent* pEntry = readdir(pDevices)) {
            const std::string strName = pEntry->d_name;
            if (strName.size() != 2 || strName[1] != ':')
                continue;
            const std::string strReal = RealPath(strDevices + "/" + strName);
            if (!strReal.empty() &&
                ((!strPrefix.empty() && IsWithin(strReal, strPrefix)) || MayReadDrive(strReal, strPrefix, astrHomes)))
                astrFolders.push_back(strReal);
        }
        closedir(pDevices);
    }
}

const CSystem& CSystem::Get()
{
    std::unique_ptr<CSystem>& pSystem = CurrentSystem();
    if (!pSystem)
        pSystem = FromEnvironment();
    return *pSystem;
}

void CSystem::Reopen()
{
    CurrentSystem() = FromEnvironment();
}

std::unique_ptr<CSystem> CSystem::OpenPrefix(const std::string& strPrefix, const std::string& strVolume)
{
    std::unique_ptr<CSystem> pSystem(new CSystem);
    pSystem->m_strRoot = strPrefix;
    pSystem->m_strName = AbsolutePath(strPrefix);
    // Without its machine registry there is no Windows system here to read, which a
    // first run with nothing named should say, not "not installed".
    struct stat info;
    if (stat((strPrefix + "/system.reg").c_str(), &info) != 0)
        pSystem->m_strError = "no Wine prefix here (no system.reg); name the Windows system to "
                              "read with WINEPREFIX=<prefix folder> or VIRUSHIST_SYSTEM_DRIVE=<mounted drive or "
                              "disk image>";
    // A volume names a part of a disk image: with a prefix it is a mistake to say.
    if (pSystem->m_strError.empty() && !strVolume.empty())
        pSystem->m_strError = "VIRUSHIST_SYSTEM_VOLUME=" + strVolume +
                              " names a volume of a disk image, and this is a Wine prefix; name the image "
                              "with VIRUSHIST_SYSTEM_DRIVE";
    std::string strReadError;
    pSystem->m_strMachineRegistry = ReadRegistryFile(strPrefix, "system.reg", strReadError);
    if (pSystem->m_strError.empty() && !strReadError.empty())
        pSystem->m_strError = strReadError;
    strReadError.clear();
    pSystem->m_b64Bit = IsWin64Registry(pSystem->m_strMachineRegistry);
    REGVALUE value;
    uint32_t nCodePage = 0;
    if (FindWineRegistryValue(pSystem->m_strMachineRegistry, Widen(kCodePageKey), u"ACP", value))
        nCodePage = ParseCodePage(value);
    pSystem->m_pCodePage = &SystemCodePage(nCodePage != 0 ? nCodePage : kDefaultCodePage);
    const std::string strUser = ReadRegistryFile(strPrefix, "user.reg", strReadError);
    if (pSystem->m_strError.empty() && !strReadError.empty())
        pSystem->m_strError = strReadError;
    std::u16string astrSettings[3];
    for (auto [szName, pstrSetting] : {std::pair{u"sShortDate", &astrSettings[0]},
                                       std::pair{u"iCalendarType", &astrSettings[1]},
                                       std::pair{u"AddHijriDate", &astrSettings[2]}})
        if (FindWineRegistryValue(strUser, Widen(kInternationalKey), szName, value) && IsStringType(value.dwType))
            *pstrSetting = StoredString(value.strBytes);
    pSystem->m_strDatePicture = astrSettings[0];
    pSystem->SetCalendar(astrSettings[1], astrSettings[2]);
    return pSystem;
}

std::unique_ptr<CSystem> CSystem::OpenDrive(const std::string& strDrive, const std::string& strVolume)
{
    std::unique_ptr<CSystem> pSystem(new CSystem);
    pSystem->m_bDrive = true;
    pSystem->m_strRoot = strDrive;
    pSystem->m_strName = AbsolutePath(strDrive);
    while (pSystem->m_strRoot.size() > 1 && pSystem->m_strRoot.back() == '/')
        pSystem->m_strRoot.pop_back();
    pSystem->m_strCommonAppData.clear();
    pSystem->OpenDriveRegistry(strVolume);
    if (!pSystem->m_pCodePage)
        pSystem->m_pCodePage = &SystemCodePage(kDefaultCodePage);
    return pSystem;
}

bool CSystem::ReadString(const CHive& hive, const std::string& strHive, std::string_view strKey,
                         std::string_view strValue, std::u16string& strText, bool& bFound)
{
    REGVALUE value;
    const CHive::Found found = hive.FindValue(strKey, strValue, value);
    bFound = found == CHive::kFound;
    const std::string strName = std::string(strKey) + "\\" + std::string(strValue);
    if (found == CHive::kDamaged) {
        m_strError = strHive + ": the hive is damaged at " + strName;
        return false;
    }
    if (!bFound)
        return true;
    if (value.dwType != REG_SZ && value.dwType != REG_EXPAND_SZ) {
        m_strError = strHive + ": " + strName + " is not a string (type " +
                     std::to_string(value.dwType) + ")";
        return false;
    }
    strText = StoredString(value.strBytes);
    if (strText.size() > kMaxSettingLength) {
        m_strError = strHive + ": " + strName + " is too long (" + std::to_string(strText.size()) +
                     " characters)";
        return false;
    }
    return true;
}

void CSystem::OpenDriveRegistry(const std::string& strVolume)
{
    // A folder is the drive itself; any other file is a disk image.
    struct stat info;
    if (stat(m_strRoot.c_str(), &info) != 0) {
        m_strError = std::strerror(errno);
        return;
    }
    // The volume is a disk image's, by its start sector: a decimal number.
    std::string strSector;
    if (!strVolume.empty()) {
        const std::size_t nDigits = strVolume.find_first_not_of("0123456789");
        const std::size_t nFirst = strVolume.find_first_not_of('0');
        if (nDigits != std::string::npos || (nFirst != std::string::npos && strVolume.size() - nFirst > 19)) {
            m_strError = "VIRUSHIST_SYSTEM_VOLUME=" + strVolume +
                         " is not a start sector (a decimal number of sectors from the start of the disk)";
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            m_strError = "it is a folder, and VIRUSHIST_SYSTEM_VOLUME=" + strVolume +
                         " names a volume of a disk image (unset it to read the folder)";
            return;
        }
        strSector = nFirst == std::string::npos ? "0" : strVolume.substr(nFirst);
    }
    if (!S_ISDIR(info.st_mode)) {
        m_pImage = OpenImageVolume(m_strRoot, strSector, m_strError, m_strVolume);
        if (!m_pImage)
            return;
        m_pVolume = m_pImage.get();
        m_strRoot.clear();
    }
    const std::string strConfig = "Windows\\System32\\config\\";
    // Each hive's place, and its name in messages.
    const std::string astrPlaces[] = {FindNoCase(*m_pVolume, m_strRoot, strConfig + "SYSTEM"),
                                      FindNoCase(*m_pVolume, m_strRoot, strConfig + "SOFTWARE"),
                                      FindNoCase(*m_pVolume, m_strRoot, strConfig + "DEFAULT")};
    // Each hive's name in messages: its path below the drive's root.
    const std::string astrNames[] = {m_pVolume->DisplayName(astrPlaces[0].substr(m_strRoot.size())),
                                     m_pVolume->DisplayName(astrPlaces[1].substr(m_strRoot.size())),
                                     m_pVolume->DisplayName(astrPlaces[2].substr(m_strRoot.size()))};
    const std::string& strSystemPath = astrNames[0];
    const std::string& strSoftwarePath = astrNames[1];
    const std::string& strDefaultPath = astrNames[2];
    CHive defaultHive;
    m_pSystemHive = std::make_unique<CHive>();
    m_pSoftware = std::make_unique<CHive>();
    std::string strWhy;
    for (auto [pHive, nHive] : {std::pair{m_pSystemHive.get(), 0}, std::pair{m_pSoftware.get(), 1},
                                std::pair{&defaultHive, 2}}) {
        if (!pHive->Open(*m_pVolume, astrPlaces[nHive], strWhy)) {
            m_strError = astrNames[nHive] + ": " + strWhy;
            return;
        }
    }

    // The control set Select\Current names, and the code page it keeps.
    REGVALUE value;
    const CHive::Found found = m_pSystemHive->FindValue("Select", "Current", value);
    if (found != CHive::kFound || value.dwType != REG_DWORD || value.strBytes.size() != 4) {
        m_strError = strSystemPath + ": Select\\Current is " +
                     (found == CHive::kMissing ? "missing"
                      : found == CHive::kDamaged ? "damaged"
                                                 : "not a REG_DWORD");
        return;
    }
    uint32_t nCurrent = 0;
    std::memcpy(&nCurrent, value.strBytes.data(), 4);
    char szControlSet[32];
    std::snprintf(szControlSet, sizeof(szControlSet), "ControlSet%03u", nCurrent);
    m_strControlSet = szControlSet;
    std::u16string strText;
    bool bFound = false;
    if (!ReadString(*m_pSystemHive, strSystemPath, m_strControlSet + "\\Control\\Nls\\CodePage", "ACP",
                    strText, bFound))
        return;
    // Windows sets one of its system code pages there; any other value is a hive
    // this program cannot read the system's text by.
    const uint32_t nCodePage = bFound ? LeadingNumber(strText) : 0;
    if (!IsSystemCodePage(nCodePage)) {
        m_strError = strSystemPath + ": " + m_strControlSet + "\\Control\\Nls\\CodePage\\ACP " +
                     (bFound ? "is not a system code page (\"" + Utf16ToUtf8(strText) + "\")"
                             : "is missing");
        return;
    }
    m_pCodePage = &SystemCodePage(nCodePage);

    // 32-bit Windows has no 32-bit view of the registry to keep apart.
    m_b64Bit = m_pSoftware->FindKey("Wow6432Node") == CHive::kFound;

    // The version: CurrentMajorVersionNumber, or the leading number of CurrentVersion.
    const CHive::Found major = m_pSoftware->FindValue(kWindowsKey, "CurrentMajorVersionNumber", value);
    if (major == CHive::kFound) {
        if (value.dwType != REG_DWORD || value.strBytes.size() != 4) {
            m_strError = strSoftwarePath + ": " + kWindowsKey +
                         "\\CurrentMajorVersionNumber is not a REG_DWORD";
            return;
        }
        std::memcpy(&m_nMajorVersion, value.strBytes.data(), 4);
    } else {
        if (!ReadString(*m_pSoftware, strSoftwarePath, kWindowsKey, "CurrentVersion", strText, bFound))
            return;
        m_nMajorVersion = 0;
        for (std::size_t i = 0; bFound && i < strText.size() && strText[i] >= u'0' && strText[i] <= u'9' &&
                                m_nMajorVersion < 1000;
             ++i)
            m_nMajorVersion = m_nMajorVersion * 10 + static_cast<uint32_t>(strText[i] - u'0');
        if (m_nMajorVersion == 0) {
            m_strError = strSoftwarePath + ": " + kWindowsKey + " holds no Windows version";
            return;
        }
    }

    // The system directory, below SystemRoot.
    std::u16string strSystemRoot;
    if (!ReadString(*m_pSoftware, strSoftwarePath, kWindowsKey, "SystemRoot", strSystemRoot, bFound))
        return;
    if (!bFound) {
        m_strError = strSoftwarePath + ": " + kWindowsKey + "\\SystemRoot is missing";
        return;
    }
    m_strSystemDirectory = CodePage().FromUtf16(strSystemRoot + u"\\system32");

    // The all-users application-data folder: Explorer's "Common AppData"; else the
    // profile list's ProgramData (Vista on); else, as Windows XP keeps it, the
    // profiles folder's All Users profile with "Application Data".
    if (!ReadString(*m_pSoftware, strSoftwarePath, kShellFoldersKey, "Common AppData", strText, bFound))
        return;
    if (!bFound) {
        if (!ReadString(*m_pSoftware, strSoftwarePath, kProfileListKey, "ProgramData", strText, bFound))
            return;
        std::u16string strProfiles, strAllUsers;
        bool bProfiles = false, bAllUsers = false;
        if (!bFound &&
            (!ReadString(*m_pSoftware, strSoftwarePath, kProfileListKey, "ProfilesDirectory",
                         strProfiles, bProfiles) ||
             !ReadString(*m_pSoftware, strSoftwarePath, kProfileListKey, "AllUsersProfile",
                         strAllUsers, bAllUsers)))
            return;
        if (!bFound && bProfiles && bAllUsers) {
            strText = strProfiles + u"\\" + strAllUsers + u"\\Application Data";
            bFound = true;
        }
    }
    if (bFound) {
        strText = Expand(Expand(strText, u"%SystemDrive%", u"C:"), u"%SystemRoot%", strSystemRoot);
        m_strCommonAppData = CodePage().FromUtf16(strText);
    }

    // The short date picture and the calendar of the default user's settings; none
    // when missing.
    std::u16string strCalendar, strHijriAdjustment;
    if (!ReadString(defaultHive, strDefaultPath, kInternationalKey, "sShortDate", m_strDatePicture, bFound) ||
        !ReadString(defaultHive, strDefaultPath, kInternationalKey, "iCalendarType", strCalendar, bFound) ||
        !ReadString(defaultHive, strDefaultPath, kInternationalKey, "AddHijriDate", strHijriAdjustment, bFound))
        return;
    SetCalendar(strCalendar, strHijriAdjustment);
}

void CSystem::SetCalendar(const std::u16string& strType, const std::u16string& strHijriAdjustment)
{
    const uint32_t nType = LeadingNumber(strType);
    m_nCalendar = nType != 0 ? static_cast<int>(nType) : kCalendarGregorian;
    m_nHijriAdjustment = ::HijriAdjustment(strHijriAdjustment);
}

VOLUMEPATH CSystem::Drive(char chDrive) const
{
    const char chLower = chDrive >= 'A' && chDrive <= 'Z' ? static_cast<char>(chDrive - 'A' + 'a') : chDrive;
    if (m_bDrive)
        return chLower == 'c' ? VOLUMEPATH{m_pShadowVolume != nullptr ? m_pShadowVolume : m_pVolume, m_strRoot}
                              : VOLUMEPATH{};
    return VOLUMEPATH{m_pVolume, m_strRoot + "/dosdevices/" + chLower + ":"};
}

const std::vector<SHADOWCOPY>& CSystem::ShadowCopies(std::string& strError) const
{
    if (!m_bShadowCopiesOpened && m_pImage) {
        m_aShadowCopies = m_pImage->OpenShadowCopies(m_strShadowError);
        m_bShadowCopiesOpened = true;
    }
    strError = m_strShadowError;
    return m_aShadowCopies;
}

void CSystem::ReadShadowCopy(unsigned nNumber) const
{
    m_pShadowVolume = nullptr;
    for (const SHADOWCOPY& copy : m_aShadowCopies)
        if (copy.nNumber == nNumber)
            m_pShadowVolume = copy.pVolume.get();
}

bool CSystem::FindDriveValue(std::string_view strSubKey, std::string_view strValue, REGVALUE& value,
                             CHive::Found& found) const
{
    // HKLM\Software is the SOFTWARE hive, HKLM\System the SYSTEM hive, where
    // CurrentControlSet is the control set Select names.
    const std::size_t nSlash = strSubKey.find('\\');
    const std::string_view strFirst = strSubKey.substr(0, nSlash);
    std::string strRest(nSlash == std::string_view::npos ? std::string_view() : strSubKey.substr(nSlash + 1));
    const CHive* pHive = nullptr;
    if (EqualNoCase(strFirst, "Software")) {
        pHive = m_pSoftware.get();
    } else if (EqualNoCase(strFirst, "System")) {
        pHive = m_pSystemHive.get();
        const std::string_view strCurrent = "CurrentControlSet";
        if (EqualNoCase(std::string_view(strRest).substr(0, strCurrent.size()), strCurrent) &&
            (strRest.size() == strCurrent.size() || strRest[strCurrent.size()] == '\\'))
            strRest.replace(0, strCurrent.size(), m_strControlSet);
    }
    if (pHive == nullptr)
        return false;
    // Names are UTF-8 for libhivex.
    found = pHive->FindValue(CodePage().ToUtf8(strRest), CodePage().ToUtf8(strValue), value);
    return true;
}

bool CSystem::FindMachineValue(std::string_view strSubKey, std::string_view strValue, REGVALUE& value) const
{
    if (!m_bDrive)
        return FindWineRegistryValue(m_strMachineRegistry, CodePage().ToUtf16(strSubKey), CodePage().ToUtf16(strValue),
                                     value);
    CHive::Found found = CHive::kMissing;
    return FindDriveValue(strSubKey, strValue, value, found) && found == CHive::kFound;
}

void CSystem::Confinement(CONFINEMENT& confinement) const
{
    if (!m_pImage) {
        confinement.astrReadBeneath.push_back(m_strRoot);
        return;
    }
    // The image's files, by the names its libraries were given, and every file the
    // process holds open for reading now (segments and extents its libraries
    // opened themselves), in case they are opened again.
    m_pImage->OwnFiles(confinement.astrReadFiles);
    if (DIR* pFds = opendir("/proc/self/fd")) {
        while (const dirent* pEntry = readdir(pFds)) {
            const int nFd = std::atoi(pEntry->d_name);
            char szTarget[4096];
            const ssize_t nLength = readlinkat(dirfd(pFds), pEntry->d_name, szTarget, sizeof(szTarget) - 1);
            struct stat info;
            if (pEntry->d_name[0] == '.' || nLength <= 0 || szTarget[0] != '/' || fstat(nFd, &info) != 0 ||
                !S_ISREG(info.st_mode) || (fcntl(nFd, F_GETFL) & O_ACCMODE) != O_RDONLY)
                continue;
            szTarget[nLength] = '\0';
            confinement.astrReadFiles.push_back(szTarget);
        }
        closedir(pFds);
    }
}

const TIMEZONE* CSystem::TimeZone() const
{
    if (!m_bTimeZoneRead) {
        m_pTimeZone = ReadTimeZone();
        m_bTimeZoneRead = true;
    }
    return m_pTimeZone.get();
}

std::unique_ptr<TIMEZONE> CSystem::ReadTimeZone() const
{
    // The zone's key name; Windows XP keeps its standard name alone.
    REGVALUE value;
    std::u16string strName;
    for (const char* szName : {"TimeZoneKeyName", "StandardName"})
        if (strName.empty() && FindMachineValue(kTimeZoneKey, szName, value) && IsStringType(value.dwType))
            strName = StoredString(value.strBytes);
    const std::string strZoneKey = kTimeZonesKey + CodePage().FromUtf16(strName);

    // The rule: the system's own values; where they are missing (a Wine prefix keeps
    // the names alone), its zone's TZI.
    auto pZone = std::make_unique<TIMEZONE>();
    TZRULE& rule = pZone->rule;
    uint32_t adwBiases[3];
    bool bOwn = true;
    const char* const aszBiases[] = {"Bias", "StandardBias", "DaylightBias"};
    for (int i = 0; i < 3; ++i)
        bOwn = bOwn && FindMachineValue(kTimeZoneKey, aszBiases[i], value) && ReadDword(value, adwBiases[i]);
    bOwn = bOwn && FindMachineValue(kTimeZoneKey, "StandardStart", value) && ReadTzDate(value.strBytes, rule.standardDate);
    bOwn = bOwn && FindMachineValue(kTimeZoneKey, "DaylightStart", value) && ReadTzDate(value.strBytes, rule.daylightDate);
    TZRULE zoneRule;
    const bool bZoneRule = !strName.empty() && FindMachineValue(strZoneKey, "TZI", value) &&
                           ReadTziValue(value.strBytes, zoneRule);
    if (bOwn) {
        rule.nBias = static_cast<int32_t>(adwBiases[0]);
        rule.nStandardBias = static_cast<int32_t>(adwBiases[1]);
        rule.nDaylightBias = static_cast<int32_t>(adwBiases[2]);
    } else if (bZoneRule) {
        rule = zoneRule;
    } else {
        return nullptr;
    }
    pZone->strKeyName = Utf16ToUtf8(strName);

    // Each year's rule from the zone's Dynamic DST table, unless the system turned
    // it off; a year the table lacks takes the zone's TZI.
    uint32_t dwDisabled = 0, dwFirst = 0, dwLast = 0;
    if (strName.empty() ||
        (FindMachineValue(kTimeZoneKey, "DynamicDaylightTimeDisabled", value) && ReadDword(value, dwDisabled) &&
         dwDisabled != 0))
        return pZone;
    const std::string strDynamicKey = strZoneKey + "\\Dynamic DST";
    if (!FindMachineValue(strDynamicKey, "FirstEntry", value) || !ReadDword(value, dwFirst) ||
        !FindMachineValue(strDynamicKey, "LastEntry", value) || !ReadDword(value, dwLast) || dwLast < dwFirst ||
        dwLast - dwFirst >= kMaxDynamicYears || dwLast > 30000)
        return pZone;
    pZone->nFirstYear = static_cast<int>(dwFirst);
    for (uint32_t dwYear = dwFirst; dwYear <= dwLast; ++dwYear) {
        TZRULE yearRule = bZoneRule ? zoneRule : rule;
        if (FindMachineValue(strDynamicKey, std::to_string(dwYear), value))
            ReadTziValue(value.strBytes, yearRule);
        pZone->aYears.push_back(yearRule);
    }
    return pZone;
}

namespace {

// The key a 64-bit system keeps for HKLM\<strSubKey> in the 32-bit view:
// Software\X is Software\Wow6432Node\X there; every other key is shared.
std::string ThirtyTwoBitKey(std::string_view strSubKey)
{
    const std::string_view strSoftware = "Software";
    if (strSubKey.size() < strSoftware.size() || !EqualNoCase(strSubKey.substr(0, strSoftware.size()), strSoftware) ||
        (strSubKey.size() > strSoftware.size() && strSubKey[strSoftware.size()] != '\\'))
        return std::string(strSubKey);
    return std::string(strSoftware) + "\\Wow6432Node" + std::string(strSubKey.substr(strSoftware.size()));
}

}  // namespace

uint32_t CSystem::QueryMachineValue(std::string_view strSubKey, std::string_view strValue,
                                    unsigned char* pData, uint32_t* pnSize, uint32_t dwView) const
{
    // A 32-bit system has one registry: the flags are ignored there, as Windows XP
    // ignores them.
    std::string strViewKey;
    if (m_b64Bit && (dwView & KEY_WOW64_32KEY) != 0) {
        strViewKey = ThirtyTwoBitKey(strSubKey);
        strSubKey = strViewKey;
    }
    REGVALUE value;
    if (m_bDrive) {
        CHive::Found found = CHive::kMissing;
        if (!FindDriveValue(strSubKey, strValue, value, found) || found == CHive::kMissing)
            return ERROR_FILE_NOT_FOUND;
        if (found == CHive::kDamaged)
            return ERROR_BADDB;
    } else if (!FindWineRegistryValue(m_strMachineRegistry, CodePage().ToUtf16(strSubKey),
                                      CodePage().ToUtf16(strValue), value)) {
        return ERROR_FILE_NOT_FOUND;
    }
    return CopyValueAnsi(value, CodePage(), pData, pnSize);
}

uint32_t CopyValueAnsi(const REGVALUE& value, const CCodePage& codePage, unsigned char* pData,
                       uint32_t* pnSize)
{
    const std::string strData =
        IsStringType(value.dwType) ? codePage.FromUtf16(Utf16FromBytes(value.strBytes)) : value.strBytes;
    if (strData.size() > *pnSize) {
        *pnSize = static_cast<uint32_t>(strData.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(pData, strData.data(), strData.size());
    *pnSize = static_cast<uint32_t>(strData.size());
    return ERROR_SUCCESS;
}

uint32_t ParseCodePage(const REGVALUE& value)
{
    return IsStringType(value.dwType) ? LeadingNumber(Utf16FromBytes(value.strBytes)) : 0;
}
