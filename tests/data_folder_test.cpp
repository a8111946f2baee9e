// The data folder resolver against every answer the platform can give.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "location/data_folder.h"
#include "tests/fake_platform.h"

namespace {

const std::string kHome = "C:\\Program Files\\Tarvel";
constexpr uint32_t kAnyFailure = 0xFFFFFFFF;
const std::string kProduct = "C:\\ProgramData\\Corvessa\\Tarvel Corporate Edition";

class DataFolder : public ::testing::Test {
protected:
    void SetUp() override { FreshCase(); }
    // A fresh platform and a filled buffer, for each case of a table.
    void FreshCase()
    {
        g_fake = FakePlatform{};
        std::memset(m_szBuffer, 'X', sizeof(m_szBuffer));
        m_szBuffer[sizeof(m_szBuffer) - 1] = '\0';
    }
    void AddVersion(const std::string& strName, bool bFolder = true,
                    const std::string& strProduct = kProduct)
    {
        g_fake.AddEntry(strProduct + "\\*.*", strName, bFolder);
    }
    uint32_t Resolve(int32_t nKind = DATA_FOLDER_COMMON)
    {
        return GetProductDataFolder(nKind, m_szBuffer);
    }
    bool Untouched() const { return m_szBuffer[0] == 'X' && m_szBuffer[258] == 'X'; }
    void TearDown() override
    {
        EXPECT_EQ(g_fake.nLibrariesOpen, 0);
        EXPECT_EQ(g_fake.nSearchesOpen, 0);
    }

    char m_szBuffer[260];
};

TEST_F(DataFolder, BadArguments)
{
    for (int32_t nKind : {0, 3, -1}) {
        EXPECT_EQ(Resolve(nKind), ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(Untouched());
    }
    EXPECT_EQ(GetProductDataFolder(DATA_FOLDER_COMMON, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(g_fake.nRegistryQueries, 0);
}

TEST_F(DataFolder, NotInstalled)
{
    g_fake.homeValue.reset();
    EXPECT_EQ(Resolve(), ERR_PRODUCT_NOT_INSTALLED);
    EXPECT_TRUE(Untouched());
    g_fake.homeValue = kHome + '\0';
    g_fake.dwKeyOpenStatus = 5;
    EXPECT_EQ(Resolve(), ERR_PRODUCT_NOT_INSTALLED);
    EXPECT_TRUE(Untouched());
    EXPECT_TRUE(g_fake.loadedLibraries.empty());
}

TEST_F(DataFolder, RegistryViewsOfEachSystem)
{
    // The view flags asked for, in order, when no view holds the value: none on a
    // 32-bit system (Windows 2000 refuses them), the 32-bit view then the 64-bit
    // one on a 64-bit system.
    const std::vector<uint32_t> kPlain = {0};
    const std::vector<uint32_t> kBoth = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    const struct {
        const char* szCase;
        bool bProcess64Bit;
        plat::Wow64Answer wow64;
        std::vector<uint32_t> views;
    } aCases[] = {
        {"no IsWow64Process (Windows 2000, XP before SP2)", false, plat::kWow64Missing, kPlain},
        {"32-bit Windows", false, plat::kWow64No, kPlain},
        {"32-bit process under WOW64", false, plat::kWow64Yes, kBoth},
        {"64-bit process", true, plat::kWow64No, kBoth},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        FreshCase();
        g_fake.bProcess64Bit = test.bProcess64Bit;
        g_fake.wow64 = test.wow64;
        g_fake.homeValue.reset();
        EXPECT_EQ(Resolve(), ERR_PRODUCT_NOT_INSTALLED);
        EXPECT_EQ(g_fake.registryViews, test.views);
        EXPECT_TRUE(Untouched());
    }
}

TEST_F(DataFolder, ThirtyTwoBitViewFirst)
{
    // On 64-bit Windows, with no version folder: the home directory of the first
    // view that holds a readable value.
    const std::optional<std::string> kNone;
    const std::string kLong(300, 'h');
    const struct {
        const char* szCase;
        std::optional<std::string> value32, value64;
        std::string strFolder;
    } aCases[] = {
        {"32-bit view only", std::string("C:\\Tarvel32"), kNone, "C:\\Tarvel32"},
        {"64-bit view only", kNone, std::string("C:\\Tarvel64"), "C:\\Tarvel64"},
        {"both: the 32-bit view wins", std::string("C:\\Tarvel32"), std::string("C:\\Tarvel64"), "C:\\Tarvel32"},
        {"32-bit view too long", kLong, std::string("C:\\Tarvel64"), "C:\\Tarvel64"},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        FreshCase();
        g_fake.bProcess64Bit = true;
        g_fake.homeValue32 = test.value32;
        g_fake.homeValue = test.value64;
        EXPECT_EQ(Resolve(), ERR_DATA_FOLDER_NOT_FOUND);
        EXPECT_EQ(m_szBuffer, test.strFolder);
    }
}

TEST_F(DataFolder, HomeDirectoryLengths)
{
    g_fake.dwPlatformId = 1;  // outside the NT family: the home directory alone
    const struct {
        const char* szCase;
        std::string strValue;
        uint32_t dwStatus;
        std::string strFolder;
    } aCases[] = {
        {"255 and zero", std::string(255, 'h') + '\0', ERROR_SUCCESS, std::string(255, 'h')},
        {"256 and zero", std::string(256, 'h') + '\0', ERR_PRODUCT_NOT_INSTALLED, ""},
        {"1000 and zero", std::string(1000, 'h') + '\0', ERR_PRODUCT_NOT_INSTALLED, ""},
        // Stored without a terminating zero: terminated, or too long when it fills all.
        {"10 without zero", std::string(10, 'h'), ERROR_SUCCESS, std::string(10, 'h')},
        {"255 without zero", std::string(255, 'h'), ERROR_SUCCESS, std::string(255, 'h')},
        {"256 without zero", std::string(256, 'h'), ERR_PRODUCT_NOT_INSTALLED, ""},
        {"empty", std::string(), ERROR_SUCCESS, ""},
        {"zero inside", std::string("ab\0cd", 5), ERROR_SUCCESS, "ab"},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        FreshCase();
        g_fake.dwPlatformId = 1;
        g_fake.homeValue = test.strValue;
        EXPECT_EQ(Resolve(), test.dwStatus);
        if (test.dwStatus == ERROR_SUCCESS)
            EXPECT_EQ(m_szBuffer, test.strFolder);
        else
            EXPECT_TRUE(Untouched());
        EXPECT_TRUE(g_fake.askedFolders.empty());
        EXPECT_TRUE(g_fake.searched.empty());
    }
}

TEST_F(DataFolder, HighestVersionFolder)
{
    AddVersion(".");
    AddVersion("..");
    AddVersion("7.0");
    AddVersion("7.5");
    AddVersion("9.0", false);  // a file is never chosen
    AddVersion("7.6");
    AddVersion("logs");
    EXPECT_EQ(Resolve(), ERROR_SUCCESS);
    EXPECT_EQ(std::string(m_szBuffer), kProduct + "\\7.6");
    EXPECT_EQ(g_fake.loadedLibraries, std::vector<std::string>{"C:\\WINDOWS\\system32\\shfolder.dll"});
    EXPECT_EQ(g_fake.askedFolders, std::vector<int32_t>{CSIDL_COMMON_APPDATA});
}

TEST_F(DataFolder, VersionRules)
{
    const struct {
        const char* szCase;
        std::vector<std::string> astrNames;
        std::string strChosen;  // empty: none qualifies
    } aCases[] = {
        {"none above the threshold", {"7.0", "7.499"}, ""},
        {"ties go to the first delivered", {"7.5", "7.50"}, "7.5"},
        {"ties go to the first delivered, other order", {"7.50", "7.5"}, "7.50"},
        {"a whole number", {"7.6", "8"}, "8"},
        {"text after the number", {"7.5 beta", "7.4"}, "7.5 beta"},
        {"a second point ends the number", {"7.6.0.12", "7.59"}, "7.6.0.12"},
        {"no leading number", {"beta", "x7.9"}, ""},
        {"compared as numbers", {"10.0", "9.99"}, "10.0"},
        {"long names are taken whole", {std::string(50, '8')}, std::string(50, '8')},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        FreshCase();
        for (const auto& strName : test.astrNames)
            AddVersion(strName);
        uint32_t dwStatus = Resolve();
        if (test.strChosen.empty()) {
            EXPECT_EQ(dwStatus, ERR_DATA_FOLDER_NOT_FOUND);
            EXPECT_EQ(std::string(m_szBuffer), kHome);
        } else {
            EXPECT_EQ(dwStatus, ERROR_SUCCESS);
            EXPECT_EQ(std::string(m_szBuffer), kProduct + "\\" + test.strChosen);
        }
    }
}

TEST_F(DataFolder, VersionNameThatWouldNotFitIsSkipped)
{
    // The product folder is 244 characters: a name of 14 makes a path of 259, the
    // most a path buffer holds; one of 15 would not fit.
    std::string strShell = "C:\\" + std::string(210 - 3, 's');
    std::string strProduct = strShell + "\\Corvessa\\Tarvel Corporate Edition";
    g_fake.folders[CSIDL_COMMON_APPDATA] = strShell;
    AddVersion("8" + std::string(259 - strProduct.size() - 2, '0'), true, strProduct);  // fits
    AddVersion("9" + std::string(259 - strProduct.size() - 1, '0'), true, strProduct);  // one too many
    EXPECT_EQ(Resolve(), ERROR_SUCCESS);
    EXPECT_EQ(std::strlen(m_szBuffer), 259u);
    EXPECT_EQ(m_szBuffer[strProduct.size() + 1], '8');
}

TEST_F(DataFolder, ShellPathTooLongFallsBackToHome)
{
    g_fake.folders[CSIDL_COMMON_APPDATA] = "C:\\" + std::string(240, 's');
    EXPECT_EQ(Resolve(), ERR_DATA_FOLDER_NOT_FOUND);
    EXPECT_EQ(std::string(m_szBuffer), kHome);
    EXPECT_TRUE(g_fake.searched.empty());
}

TEST_F(DataFolder, DriveRootPattern)
{
    char szName[260];
    EXPECT_EQ(FindHighestVersionFolder("C:\\", szName), 0.0);
    EXPECT_EQ(FindHighestVersionFolder("C:\\x", szName), 0.0);
    EXPECT_EQ(g_fake.searched, (std::vector<std::string>{"C:\\*.*", "C:\\x\\*.*"}));
}

TEST_F(DataFolder, PlatformFailures)
{
    const struct {
        const char* szCase;
        void (*configure)();
        uint32_t dwStatus;  // kAnyFailure: any status but success and not-found
        bool bHomeInBuffer;
    } aCases[] = {
        {"system directory fails", [] { g_fake.bSystemDirectoryFails = true; g_fake.dwLastError = 1234; },
         1234, false},
        {"library does not load", [] { g_fake.bLibraryLoads = false; g_fake.dwLastError = 126; },
         126, false},
        // A failure that leaves no error code still never reads as success.
        {"failure without an error code", [] { g_fake.bLibraryLoads = false; g_fake.dwLastError = 0; },
         kAnyFailure, false},
        {"library without the function", [] { g_fake.bHasFolderProc = false; },
         ERR_DATA_FOLDER_NOT_FOUND, true},
        {"shell query fails", [] {
             g_fake.hrFolder = static_cast<int32_t>(0x80004005);
             g_fake.AddEntry(kProduct + "\\*.*", "7.6", true);
         },
         ERR_DATA_FOLDER_NOT_FOUND, true},
        // No version: not NT, so the home directory.
        {"version query fails", [] { g_fake.bVersionOk = false; }, ERROR_SUCCESS, true},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szCase);
        FreshCase();
        test.configure();
        const uint32_t dwStatus = Resolve();
        if (test.dwStatus == kAnyFailure) {
            EXPECT_NE(dwStatus, ERROR_SUCCESS);
            EXPECT_NE(dwStatus, ERR_DATA_FOLDER_NOT_FOUND);
        } else {
            EXPECT_EQ(dwStatus, test.dwStatus);
        }
        if (test.bHomeInBuffer)
            EXPECT_EQ(std::string(m_szBuffer), kHome);
        else
            EXPECT_TRUE(Untouched());
        EXPECT_EQ(g_fake.nLibrariesOpen, 0);
    }
}

TEST_F(DataFolder, ShellFolderOfEachKind)
{
    g_fake.folders[CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE] = "C:\\Local";
    g_fake.folders[CSIDL_APPDATA] = "C:\\Roaming";
    EXPECT_EQ(Resolve(DATA_FOLDER_USER), ERR_DATA_FOLDER_NOT_FOUND);
    g_fake.dwMajorVersion = 4;
    EXPECT_EQ(Resolve(DATA_FOLDER_USER), ERR_DATA_FOLDER_NOT_FOUND);
    EXPECT_EQ(g_fake.askedFolders,
              (std::vector<int32_t>{CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, CSIDL_APPDATA}));
}

TEST_F(DataFolder, DefaultUserSubstitution)
{
    const std::string strShell =
        "C:\\Documents and Settings\\Default User\\Local Settings\\Application Data";
    const std::string strOwn = "C:\\Documents and Settings\\ops\\Local Settings\\Application Data";
    const struct {
        const char* szName;
        std::string strUser;
        bool bOwnExists;
        std::string strBase;
    } aCases[] = {
        {"OwnFolderExists", "ops", true, strOwn},
        {"OwnFolderMissing", "ops", false, strShell},
        {"NoUserName", "", true, strShell},
    };
    for (const auto& test : aCases) {
        SCOPED_TRACE(test.szName);
        FreshCase();
        g_fake.folders[CSIDL_COMMON_APPDATA] = strShell;
        g_fake.strUserName = test.strUser;
        if (test.bOwnExists)
            g_fake.AddFolder(strOwn);
        AddVersion("7.6", true, test.strBase + "\\Corvessa\\Tarvel Corporate Edition");
        EXPECT_EQ(Resolve(), ERROR_SUCCESS);
        EXPECT_EQ(std::string(m_szBuffer), test.strBase + "\\Corvessa\\Tarvel Corporate Edition\\7.6");
    }
}

TEST_F(DataFolder, SubstituteDefaultUserRules)
{
    std::strcpy(g_szUserName, "ops");
    const struct {
        std::string strPath;
        std::string strResult;  // the path when the substituted one exists
    } aCases[] = {
        {"D:\\Profiles\\Default User.OLD\\Application Data", "D:\\Profiles\\ops\\Application Data"},
        {"D:\\Profiles\\My Default User\\Application Data", "D:\\Profiles\\My ops\\Application Data"},
        {"C:\\users\\Default User", "C:\\users\\ops"},  // nothing after the marker
        {"C:\\users\\default user\\x", "C:\\users\\default user\\x"},  // case matters
    };
    for (const auto& test : aCases) {
        g_fake = FakePlatform{};
        g_fake.AddFolder(test.strResult);
        char szPath[260];
        std::strcpy(szPath, test.strPath.c_str());
        int nResult = SubstituteDefaultUser(szPath);
        EXPECT_EQ(std::string(szPath), test.strResult);
        EXPECT_EQ(nResult, test.strResult == test.strPath ? 1 : 0) << test.strPath;
    }
    // A substituted path that would not fit leaves the path as it was.
    std::strcpy(g_szUserName, std::string(47, 'u').c_str());
    std::string strLong = "C:\\Default User\\" + std::string(220, 'a');
    char szPath[260];
    std::strcpy(szPath, strLong.c_str());
    EXPECT_EQ(SubstituteDefaultUser(szPath), 1);
    EXPECT_EQ(std::string(szPath), strLong);
    EXPECT_EQ(SubstituteDefaultUser(nullptr), 1);
}

TEST_F(DataFolder, MarkerSearchHonoursTwoByteCharacters)
{
    // 0x95 0x5C is one two-byte character: its trail byte is no backslash.
    g_fake.leadBytes = {0x95};
    std::strcpy(g_szUserName, "ops");
    std::string strPath = "C:\\Default User\x95\\x\\y";
    g_fake.AddFolder("C:\\ops\\y");
    char szPath[260];
    std::strcpy(szPath, strPath.c_str());
    EXPECT_EQ(SubstituteDefaultUser(szPath), 0);
    EXPECT_EQ(std::string(szPath), "C:\\ops\\y");
}

}  // namespace
