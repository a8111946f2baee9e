// The scripted platform behind the unit tests.
#include "tests/fake_platform.h"
#include "common/clock.h"
#include "resources/string_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

FakePlatform g_fake;

void FakePlatform::AddEntry(const std::string& strSearch, const std::string& strName, bool bFolder)
{
    plat::FindData data{};
    data.dwFileAttributes = bFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    std::snprintf(data.cFileName, sizeof(data.cFileName), "%s", strName.c_str());
    searches[strSearch].push_back(data);
}

void FakePlatform::AddFolder(const std::string& strPath)
{
    AddEntry(strPath, strPath.substr(strPath.find_last_of('\\') + 1), true);
}

std::string FakeDate(int nYear, int nMonth, int nDay)
{
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31)
        return "";
    char szDate[32];
    std::snprintf(szDate, sizeof(szDate), "%04d-%02d-%02d", nYear, nMonth, nDay);
    return szDate;
}

std::string ShadowKey(unsigned nNumber, const std::string& strPath)
{
    return "shadow" + std::to_string(nNumber) + "|" + strPath;
}

namespace {

// A path or search string as keyed in the view being read.
std::string ViewKey(const char* szPath)
{
    return g_fake.nShadowView == 0 ? std::string(szPath) : ShadowKey(g_fake.nShadowView, szPath);
}

}  // namespace

namespace plat {

struct Library {};
struct FolderProc {};
struct Search {
    std::vector<FindData> aEntries;
    std::size_t nNext;
};
struct File {
    std::string strPath;
    std::size_t nPos;
    bool bAppend;
};

namespace {

Library g_library;
FolderProc g_proc;

File* OpenFake(const char* szPath, bool bAppend)
{
    ++g_fake.nFilesOpen;
    g_fake.opened.push_back(szPath);
    return new File{szPath, 0, bAppend};
}

}  // namespace

bool OpenSystem()
{
    return g_fake.bSystemOpens;
}

RunPart SplitRun(const char*, bool)
{
    g_fake.nOpensBeforeSplit = g_fake.opened.size() + static_cast<std::size_t>(g_fake.nRegistryQueries);
    return g_fake.runPart;
}

void SendFrame(FrameType type, std::string_view strPayload)
{
    AppendFrame(g_fake.strFrames, type, strPayload);
}

void FlushFrames() {}

bool ReadingRefused()
{
    return g_fake.bReadingRefused;
}

long ReceiveFrames(char* pBuffer, std::size_t nSize)
{
    const std::size_t nLeft = g_fake.strFrames.size() - g_fake.nFramesReceived;
    const std::size_t nCount = std::min({nSize, nLeft, g_fake.nReadChunk});
    std::memcpy(pBuffer, g_fake.strFrames.data() + g_fake.nFramesReceived, nCount);
    g_fake.nFramesReceived += nCount;
    return static_cast<long>(nCount);
}

std::string WaitForReader(bool bEnd)
{
    g_fake.bReaderEnded = bEnd;
    return g_fake.strReaderDied;
}

bool HandOverFile(std::string_view)
{
    return false;
}

void WriteErrorLine(const std::string& strLine)
{
    g_fake.bProgressShown = false;
    g_fake.errorLines.push_back(strLine);
}

bool IsTerminal(bool bOutput)
{
    return bOutput ? g_fake.bOutputTerminal : g_fake.bTerminal;
}

long long Milliseconds()
{
    ++g_fake.nClockReads;
    return g_fake.nClock += g_fake.nClockStep;
}

void ShowProgress(const std::string& strLine)
{
    if (strLine.empty() && !g_fake.bProgressShown)
        return;
    g_fake.progressLines.push_back(strLine);
    g_fake.bProgressShown = !strLine.empty();
}

bool QueryUserName(char* szName, uint32_t* pnSize)
{
    if (!g_fake.bUserNameOk || g_fake.strUserName.size() + 1 > *pnSize)
        return false;
    std::memcpy(szName, g_fake.strUserName.c_str(), g_fake.strUserName.size() + 1);
    return true;
}

bool QueryVersion(uint32_t* pdwPlatformId, uint32_t* pdwMajorVersion)
{
    if (!g_fake.bVersionOk)
        return false;
    *pdwPlatformId = g_fake.dwPlatformId;
    *pdwMajorVersion = g_fake.dwMajorVersion;
    return true;
}

uint32_t QuerySystemDirectory(char* szPath, uint32_t nSize)
{
    if (g_fake.bSystemDirectoryFails)
        return 0;
    if (g_fake.strSystemDirectory.size() + 1 > nSize)
        return static_cast<uint32_t>(g_fake.strSystemDirectory.size() + 1);
    std::memcpy(szPath, g_fake.strSystemDirectory.c_str(), g_fake.strSystemDirectory.size() + 1);
    return static_cast<uint32_t>(g_fake.strSystemDirectory.size());
}

uint32_t LastError()
{
    return g_fake.dwLastError;
}

const LeadByteTable& LeadBytes()
{
    // Built anew on each call: a test may change the lead bytes at any time.
    static LeadByteTable table;
    table = LeadByteTable{};
    for (unsigned char byLead : g_fake.leadBytes)
        table.abLead[byLead] = true;
    table.bAny = !g_fake.leadBytes.empty();
    return table;
}

uint32_t QueryMachineValue(const char* szSubKey, const char* szValue, unsigned char* pData,
                           uint32_t* pnSize, uint32_t dwView)
{
    ++g_fake.nRegistryQueries;
    g_fake.registryViews.push_back(dwView);
    if (g_fake.dwKeyOpenStatus != 0)
        return g_fake.dwKeyOpenStatus;
    if (std::strcmp(szSubKey, "Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion") != 0)
        return ERROR_FILE_NOT_FOUND;
    // A 64-bit system keeps the 32-bit view apart; a 32-bit one ignores the flags.
    const bool b64Bit = g_fake.bProcess64Bit || g_fake.wow64 == kWow64Yes;
    const std::optional<std::string>& value =
        b64Bit && (dwView & KEY_WOW64_32KEY) != 0 ? g_fake.homeValue32 : g_fake.homeValue;
    if (std::strcmp(szValue, "Home Directory") != 0 || !value)
        return ERROR_FILE_NOT_FOUND;
    const std::string& strValue = *value;
    if (strValue.size() > *pnSize) {
        *pnSize = static_cast<uint32_t>(strValue.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(pData, strValue.data(), strValue.size());
    *pnSize = static_cast<uint32_t>(strValue.size());
    return 0;
}

bool IsProcess64Bit()
{
    return g_fake.bProcess64Bit;
}

Wow64Answer QueryWow64Process()
{
    return g_fake.wow64;
}

Library* OpenLibrary(const char* szPath)
{
    g_fake.loadedLibraries.push_back(szPath);
    if (!g_fake.bLibraryLoads)
        return nullptr;
    ++g_fake.nLibrariesOpen;
    return &g_library;
}

FolderProc* FindFolderPathProc(Library*, const char* szName)
{
    return g_fake.bHasFolderProc && std::strcmp(szName, "SHGetFolderPathA") == 0 ? &g_proc : nullptr;
}

void CloseLibrary(Library*)
{
    --g_fake.nLibrariesOpen;
}

int32_t CallFolderPathProc(FolderProc*, int32_t nFolder, char* szPath)
{
    g_fake.askedFolders.push_back(nFolder);
    if (g_fake.hrFolder < 0)
        return g_fake.hrFolder;
    auto found = g_fake.folders.find(nFolder);
    if (found == g_fake.folders.end())
        return E_INVALIDARG;
    std::snprintf(szPath, kMaxPath, "%s", found->second.c_str());
    return g_fake.hrFolder;
}

Search* FindFirst(const char* szPattern, FindData* pData)
{
    const std::string strKey = ViewKey(szPattern);
    g_fake.searched.push_back(strKey);
    auto found = g_fake.searches.find(strKey);
    if (found == g_fake.searches.end() || found->second.empty())
        return nullptr;
    ++g_fake.nSearchesOpen;
    *pData = found->second.front();
    return new Search{found->second, 1};
}

bool FindNext(Search* pSearch, FindData* pData)
{
    if (pSearch->nNext >= pSearch->aEntries.size())
        return false;
    *pData = pSearch->aEntries[pSearch->nNext++];
    return true;
}

void CloseSearch(Search* pSearch)
{
    --g_fake.nSearchesOpen;
    delete pSearch;
}

bool LoadStringResource(uint32_t nID, std::string& strText)
{
    return FindStringTableText(nID, strText);
}

bool AnswerOption(int, char**)
{
    return false;
}

std::string ArgumentText(const char* szArgument)
{
    return szArgument;
}

void ShowMessage(const char* szText, const char* szCaption)
{
    g_fake.messages.emplace_back(szText, szCaption);
}

void FormatShortDate(int nYear, int nMonth, int nDay, int, int, int, std::string& strText)
{
    strText = FakeDate(nYear, nMonth, nDay);
}

bool CanRecoverHistory(std::string& strWhy)
{
    strWhy = "no image";
    return g_fake.bImage;
}

void FindDeleted(const char* szSearch, std::vector<DeletedFile>& aFiles)
{
    aFiles.clear();
    for (const auto& [strName, strContent] : g_fake.deleted[szSearch])
        aFiles.push_back(DeletedFile{strName, aFiles.size()});
}

File* OpenDeleted(const DeletedFile& file)
{
    for (auto& [strSearch, aFiles] : g_fake.deleted)
        for (const auto& [strName, strContent] : aFiles)
            if (strName == file.strName) {
                g_fake.files["deleted:" + strName].strContent = strContent;
                return OpenFake(("deleted:" + strName).c_str(), false);
            }
    return nullptr;
}

File* OpenForRead(const char* szPath)
{
    const std::string strKey = ViewKey(szPath);
    auto found = g_fake.files.find(strKey);
    if (found == g_fake.files.end() || found->second.bOpenFails)
        return nullptr;
    return OpenFake(strKey.c_str(), false);
}

void FindShadowCopies(std::vector<ShadowCopy>& aCopies, std::vector<std::string>& astrSkipped)
{
    aCopies = g_fake.shadowCopies;
    astrSkipped = g_fake.shadowSkipped;
}

void ReadShadowCopy(unsigned nNumber)
{
    g_fake.nShadowView = nNumber;
}

long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize)
{
    const FakeFile& file = g_fake.files[pFile->strPath];
    std::size_t nCount = std::min({nSize, g_fake.nReadChunk, file.strContent.size() - pFile->nPos});
    if (file.nReadFailsAt >= 0 &&
        static_cast<long long>(pFile->nPos + nCount) >= file.nReadFailsAt)
        return -1;
    std::memcpy(pBuffer, file.strContent.data() + pFile->nPos, nCount);
    pFile->nPos += nCount;
    return static_cast<long>(nCount);
}

File* CreateForWrite(const char* szPath)
{
    if (g_fake.unwritable.count(szPath))
        return nullptr;
    g_fake.files[szPath].strContent.clear();
    return OpenFake(szPath, false);
}

File* OpenHeld(const char* szPath, bool, bool* pbHeld, bool* pbCreated)
{
    *pbHeld = g_fake.held.count(szPath) != 0;
    *pbCreated = false;
    if (*pbHeld || g_fake.unwritable.count(szPath))
        return nullptr;
    *pbCreated = g_fake.files.count(szPath) == 0;
    g_fake.files[szPath];
    return OpenFake(szPath, false);
}

bool RemoveFile(const char* szPath, bool)
{
    return g_fake.files.erase(szPath) != 0;
}

File* OpenStandardOutput()
{
    g_fake.files[kFakeStandardOutput];
    return OpenFake(kFakeStandardOutput, false);
}

bool IsDiskFile(File* pFile)
{
    return pFile->strPath != kFakeStandardOutput;
}

std::string LastErrorText()
{
    return "fake error " + std::to_string(g_fake.dwLastError);
}

File* OpenForAppend(const char* szPath)
{
    int nAppend = g_fake.nAppends++;
    if (g_fake.unwritable.count(szPath) || g_fake.failedAppendOpens.count(nAppend))
        return nullptr;
    g_fake.files[szPath];
    return OpenFake(szPath, true);
}

long long FileSize(File* pFile)
{
    return static_cast<long long>(g_fake.files[pFile->strPath].strContent.size());
}

long long AppendFile(File* pFile, const char* pData, std::size_t nSize)
{
    std::string& strContent = g_fake.files[pFile->strPath].strContent;
    std::size_t nWritten = g_fake.shortAppends.count(g_fake.nAppends - 1) ? nSize / 2 : nSize;
    if (const auto limit = g_fake.sizeLimits.find(pFile->strPath); limit != g_fake.sizeLimits.end()) {
        nWritten = std::min(nWritten, limit->second > strContent.size() ? limit->second - strContent.size() : 0);
        if (nWritten == 0)
            return -1;
    }
    strContent.append(pData, nWritten);
    return static_cast<long long>(nWritten);
}

bool TruncateFile(File* pFile, long long nSize)
{
    if (nSize > 0 && g_fake.uncuttable.count(pFile->strPath))
        return false;
    if (pFile->bAppend && g_fake.nTruncateFailures > 0) {  // a row's cut-back
        --g_fake.nTruncateFailures;
        return false;
    }
    g_fake.files[pFile->strPath].strContent.resize(static_cast<std::size_t>(nSize));
    return true;
}

void CloseFile(File* pFile)
{
    --g_fake.nFilesOpen;
    delete pFile;
}

std::string TimeZoneName()
{
    return g_fake.strTimeZone;
}

bool LocalTimeToUtc(const DATETIME& local, DATETIME& utc)
{
    if (g_fake.bConversionFails)
        return false;
    utc = DateTimeOfMinutes(MinutesOf(local) + g_fake.nBias, local.nSecond);
    return true;
}

std::string TextToUtf8(std::string_view strText)
{
    std::string strUtf8;
    for (char ch : strText) {
        const unsigned char by = static_cast<unsigned char>(ch);
        if (by < 0x80) {
            strUtf8 += ch;
        } else {
            strUtf8 += static_cast<char>(0xc0 | by >> 6);
            strUtf8 += static_cast<char>(0x80 | (by & 0x3f));
        }
    }
    return strUtf8;
}

std::string SystemName()
{
    return g_fake.strSystemName;
}

std::string SystemVolume()
{
    return g_fake.strSystemVolume;
}

}  // namespace plat
