// Opening the system: the prefix's folder, its registry files, its code page and
// its short date picture, each read once.
#include "platform/posix/system.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/codes.h"

namespace {

constexpr uint32_t kDefaultCodePage = 1252;
constexpr const char* kCodePageKey = "System\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr const char* kInternationalKey = "Control Panel\\International";

std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    if (file)
        text << file.rdbuf();
    return text.str();
}

// Registry names are ASCII here: widened as they stand.
std::u16string Widen(std::string_view strText)
{
    return std::u16string(strText.begin(), strText.end());
}

bool IsStringType(uint32_t dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

std::u16string AsUtf16(const std::string& strBytes)
{
    std::u16string strText(strBytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < strText.size(); ++i)
        strText[i] = static_cast<char16_t>(static_cast<unsigned char>(strBytes[2 * i]) |
                                           static_cast<unsigned char>(strBytes[2 * i + 1]) << 8);
    return strText;
}

std::string DefaultPrefix()
{
    if (const char* szPrefix = std::getenv("WINEPREFIX"); szPrefix && *szPrefix)
        return szPrefix;
    const char* szHome = std::getenv("HOME");
    return std::string(szHome ? szHome : "") + "/.wine";
}

}  // namespace

namespace {

std::unique_ptr<CSystem>& CurrentSystem()
{
    static std::unique_ptr<CSystem> pSystem;
    return pSystem;
}

}  // namespace

const CSystem& CSystem::Get()
{
    std::unique_ptr<CSystem>& pSystem = CurrentSystem();
    if (!pSystem)
        pSystem = std::make_unique<CSystem>(DefaultPrefix());
    return *pSystem;
}

void CSystem::Reopen()
{
    CurrentSystem() = std::make_unique<CSystem>(DefaultPrefix());
}

CSystem::CSystem(std::string strPrefix)
    : m_strPrefix(std::move(strPrefix)),
      m_strMachineRegistry(ReadWholeFile(m_strPrefix + "/system.reg"))
{
    REGVALUE value;
    uint32_t nCodePage = 0;
    if (FindMachineValue(kCodePageKey, "ACP", value))
        nCodePage = ParseCodePage(value);
    m_pCodePage = std::make_unique<CCodePage>(nCodePage != 0 ? nCodePage : kDefaultCodePage);

    const std::string strUser = ReadWholeFile(m_strPrefix + "/user.reg");
    if (FindWineRegistryValue(strUser, Widen(kInternationalKey), u"sShortDate", value) &&
        IsStringType(value.dwType)) {
        m_strDatePicture = AsUtf16(value.strBytes);
        m_strDatePicture.resize(std::char_traits<char16_t>::length(m_strDatePicture.c_str()));
    }
}

std::string CSystem::DriveFolder(char chDrive) const
{
    const char chLower = chDrive >= 'A' && chDrive <= 'Z' ? static_cast<char>(chDrive - 'A' + 'a') : chDrive;
    return m_strPrefix + "/dosdevices/" + chLower + ":";
}

bool CSystem::FindMachineValue(std::string_view strSubKey, std::string_view strValue,
                               REGVALUE& value) const
{
    return FindWineRegistryValue(m_strMachineRegistry, Widen(strSubKey), Widen(strValue), value);
}

uint32_t CSystem::QueryMachineValue(std::string_view strSubKey, std::string_view strValue,
                                    unsigned char* pData, uint32_t* pnSize) const
{
    REGVALUE value;
    if (!FindMachineValue(strSubKey, strValue, value))
        return ERROR_FILE_NOT_FOUND;
    return CopyValueAnsi(value, CodePage(), pData, pnSize);
}

uint32_t CopyValueAnsi(const REGVALUE& value, const CCodePage& codePage, unsigned char* pData,
                       uint32_t* pnSize)
{
    const std::string strData =
        IsStringType(value.dwType) ? codePage.FromUtf16(AsUtf16(value.strBytes)) : value.strBytes;
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
    if (!IsStringType(value.dwType))
        return 0;
    uint32_t nCodePage = 0;
    for (char16_t wChar : AsUtf16(value.strBytes)) {
        if (wChar < u'0' || wChar > u'9' || nCodePage > 100000)
            break;
        nCodePage = nCodePage * 10 + static_cast<uint32_t>(wChar - u'0');
    }
    return nCodePage;
}
