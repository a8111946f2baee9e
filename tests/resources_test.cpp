// Windows build: virushist.exe carries its resources: every catalogue text in its
// string table, the project's version, and its manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "resources/string_table.h"
#include "version.h"

namespace {

class Executable : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hModule = LoadLibraryExA(VH_VIRUSHIST_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_hModule, nullptr) << VH_VIRUSHIST_EXE;
    }
    void TearDown() override
    {
        if (m_hModule != nullptr)
            FreeLibrary(m_hModule);
    }
    HMODULE m_hModule = nullptr;
};

TEST_F(Executable, StringTableHoldsEveryCatalogueText)
{
    for (unsigned i = 0; i < g_nCatalogueSize; ++i) {
        char szText[256] = "";
        const int nLength = LoadStringA(m_hModule, g_aCatalogue[i].wID, szText, sizeof(szText));
        EXPECT_EQ(std::string(szText, nLength > 0 ? nLength : 0), g_aCatalogue[i].strText) << g_aCatalogue[i].wID;
    }
}

TEST_F(Executable, VersionIsTheProjects)
{
    const DWORD nSize = GetFileVersionInfoSizeA(VH_VIRUSHIST_EXE, nullptr);
    ASSERT_GT(nSize, 0u);
    std::string strInfo(nSize, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(VH_VIRUSHIST_EXE, 0, nSize, strInfo.data()));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLength = 0;
    ASSERT_TRUE(VerQueryValueA(strInfo.data(), "\\", reinterpret_cast<void**>(&pFixed), &nLength));
    EXPECT_EQ(pFixed->dwFileVersionMS, static_cast<DWORD>(VH_VERSION_MAJOR << 16 | VH_VERSION_MINOR));
    EXPECT_EQ(pFixed->dwFileVersionLS, static_cast<DWORD>(VH_VERSION_PATCH << 16));
    char* szValue = nullptr;
    for (const char* szName : {"FileVersion", "ProductVersion"}) {
        const std::string strKey = std::string("\\StringFileInfo\\040904B0\\") + szName;
        ASSERT_TRUE(VerQueryValueA(strInfo.data(), strKey.c_str(), reinterpret_cast<void**>(&szValue), &nLength));
        EXPECT_STREQ(szValue, VH_VERSION_STRING);
    }
    ASSERT_TRUE(VerQueryValueA(strInfo.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&szValue), &nLength));
    EXPECT_STREQ(szValue, "virushist.exe");
}

TEST_F(Executable, ManifestRunsAsInvokerInTheSystemsCodePage)
{
    HRSRC hResource = FindResourceA(m_hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(hResource, nullptr);
    const char* pText = static_cast<const char*>(LockResource(LoadResource(m_hModule, hResource)));
    const std::string strManifest(pText, SizeofResource(m_hModule, hResource));
    EXPECT_NE(strManifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(strManifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10 and 11
    EXPECT_NE(strManifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // 7
    EXPECT_EQ(strManifest.find("<activeCodePage"), std::string::npos);  // the ANSI code page stays the system's
}

}  // namespace
