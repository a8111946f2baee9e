// The Windows volume of a disk image, read with The Sleuth Kit and never mounted:
// the image (libtsk opens raw, split raw, E01, VMDK, VHD, VHDX and AFF), its
// partition table (MBR, GPT) or none, and the NTFS or FAT file system that holds
// Windows. Opened read only; nothing is written. Only allocated entries exist; each
// file is listed once, under its long name; a folder is delivered as Windows
// delivers it: NTFS in the order of its name index, FAT in directory order.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libewf.h>
#include <libqcow.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

#include "platform/codes.h"
#include "platform/posix/codepage.h"
#include "platform/posix/image_layers.h"
#include "platform/posix/volume.h"

namespace {

TSKLIBRARY g_tsk;

// Loads libtsk and its functions once; false with strError when it cannot.
bool LoadTsk(std::string& strError)
{
    static const std::string strLoadError = [] {
        void* pLibrary = dlopen(VH_TSK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (pLibrary == nullptr)
            return std::string("The Sleuth Kit's library cannot be loaded (") + dlerror() + ")";
#define LOAD(name)                                                                 \
    if ((g_tsk.name = reinterpret_cast<decltype(g_tsk.name)>(dlsym(pLibrary, #name))) == nullptr) \
        return std::string(VH_TSK_LIBRARY " has no " #name);
        LOAD(tsk_error_get);
        LOAD(tsk_error_reset);
        LOAD(tsk_fs_close);
        LOAD(tsk_fs_dir_close);
        LOAD(tsk_fs_dir_get_name);
        LOAD(tsk_fs_dir_getsize);
        LOAD(tsk_fs_dir_open_meta);
        LOAD(tsk_fs_file_attr_get_idx);
        LOAD(tsk_fs_file_attr_getsize);
        LOAD(tsk_fs_file_close);
        LOAD(tsk_fs_file_open_meta);
        LOAD(tsk_fs_file_read);
        LOAD(tsk_fs_open_img);
        LOAD(tsk_img_close);
        LOAD(tsk_img_free);
        LOAD(tsk_img_malloc);
        LOAD(tsk_img_open_external);
        LOAD(tsk_img_open_utf8);
        LOAD(tsk_img_open_utf8_sing);
        LOAD(tsk_img_read);
        LOAD(tsk_vs_close);
        LOAD(tsk_vs_open);
        LOAD(tsk_vs_part_get);
#undef LOAD
        return std::string();
    }();
    strError = strLoadError;
    return strLoadError.empty();
}

// NTFS keeps its own files ($MFT, $Extend, ...) in the first 24 records; Windows
// lists none of them.
constexpr TSK_INUM_T kFirstUserRecord = 24;
constexpr TSK_INUM_T kUpCaseRecord = 10;
// File attributes of NTFS's standard information that mean the data stream does not
// hold the file as it reads on Windows: encrypted (EFS) or behind a reparse point
// (WOF and CompactOS compression, among others).
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kAttributeEncrypted = 0x4000;
constexpr std::size_t kAttributesOffset = 32;
// Folders kept listed: the walk to each file lists its folders again.
constexpr std::size_t kMaxCachedEntries = 100000;
constexpr std::size_t kCopyChunk = 1 << 20;

struct IMAGEENTRY {
    VOLUMEENTRY entry;
    TSK_INUM_T nAddress = 0;
};

// A file of the image: its default data stream, read through libtsk, which
// decompresses LZNT1 and gives sparse runs as zeros.
class CImageFile : public CVolumeFile {
public:
    explicit CImageFile(TSK_FS_FILE* pFile) : m_pFile(pFile) {}
    ~CImageFile() override { Tsk().tsk_fs_file_close(m_pFile); }

    long Read(char* pBuffer, std::size_t nSize) override
    {
        const TSK_OFF_T nFileSize = m_pFile->meta->size;
        if (m_nOffset >= nFileSize)
            return 0;
        nSize = static_cast<std::size_t>(std::min<TSK_OFF_T>(static_cast<TSK_OFF_T>(nSize), nFileSize - m_nOffset));
        const ssize_t nRead = Tsk().tsk_fs_file_read(m_pFile, m_nOffset, pBuffer, nSize, TSK_FS_FILE_READ_FLAG_NONE);
        if (nRead <= 0) {
            Tsk().tsk_error_reset();
            return -1;
        }
        m_nOffset += nRead;
        return static_cast<long>(nRead);
    }

private:
    TSK_FS_FILE* m_pFile;
    TSK_OFF_T m_nOffset = 0;
};

class CImageVolume : public CVolume {
public:
    // The file system at nOffset of the image, in a volume of nSize bytes.
    CImageVolume(std::string strImage, TSK_IMG_INFO* pImage, TSK_FS_INFO* pFileSystem, TSK_OFF_T nOffset,
                 TSK_OFF_T nSize)
        : m_strImage(std::move(strImage)), m_pImage(pImage), m_pFileSystem(pFileSystem), m_nOffset(nOffset),
          m_nSize(nSize)
    {
        if (TSK_FS_TYPE_ISNTFS(m_pFileSystem->ftype))
            ReadUpCase();
    }
    ~CImageVolume() override
    {
        Tsk().tsk_fs_close(m_pFileSystem);
        if (m_bOwnsImage)
            Tsk().tsk_img_close(m_pImage);
    }
    CImageVolume(const CImageVolume&) = delete;
    CImageVolume& operator=(const CImageVolume&) = delete;

    // The chosen volume closes the image with its file system.
    void OwnImage() { m_bOwnsImage = true; }

    bool List(const std::string& strFolder, std::vector<VOLUMEENTRY>& aEntries) const override
    {
        const std::vector<IMAGEENTRY>* pListing = Listing(strFolder);
        if (pListing == nullptr)
            return false;
        aEntries.clear();
        for (const IMAGEENTRY& entry : *pListing)
            aEntries.push_back(entry.entry);
        return true;
    }

    bool Exists(const std::string& strPath) const override
    {
        IMAGEENTRY entry;
        return Find(strPath, entry);
    }

    std::unique_ptr<CVolumeFile> Open(const std::string& strPath, uint32_t* pdwError) const override
    {
        IMAGEENTRY entry;
        if (!Find(strPath, entry)) {
            *pdwError = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        if (entry.entry.bFolder) {
            *pdwError = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        TSK_FS_FILE* pFile = Tsk().tsk_fs_file_open_meta(m_pFileSystem, nullptr, entry.nAddress);
        if (pFile == nullptr || pFile->meta == nullptr || pFile->meta->type != TSK_FS_META_TYPE_REG ||
            !ReadsRight(pFile)) {
            Tsk().tsk_error_reset();
            if (pFile != nullptr)
                Tsk().tsk_fs_file_close(pFile);
            *pdwError = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        return std::make_unique<CImageFile>(pFile);
    }

    int OpenDescriptor(const std::string& strPath, std::string& strError) const override
    {
        uint32_t dwError = 0;
        const std::unique_ptr<CVolumeFile> pFile = Open(strPath, &dwError);
        if (pFile == nullptr) {
            strError = dwError == ERROR_FILE_NOT_FOUND ? "missing" : "not a file libtsk can read";
            return -1;
        }
        const int nFd = memfd_create("virushist-hive", MFD_CLOEXEC);
        if (nFd < 0) {
            strError = "unreadable (" + std::string(std::strerror(errno)) + ")";
            return -1;
        }
        std::vector<char> achChunk(kCopyChunk);
        long nRead;
        while ((nRead = pFile->Read(achChunk.data(), achChunk.size())) > 0) {
            if (write(nFd, achChunk.data(), static_cast<std::size_t>(nRead)) != nRead) {
                strError = "unreadable (" + std::string(std::strerror(errno)) + ")";
                close(nFd);
                return -1;
            }
        }
        if (nRead < 0) {
            strError = "unreadable in the image";
            close(nFd);
            return -1;
        }
        return nFd;
    }

    void ListDeleted(const std::string& strFolder, std::vector<DELETEDENTRY>& aEntries) const override
    {
        aEntries.clear();
        TSK_INUM_T nAddress = m_pFileSystem->root_inum;
        IMAGEENTRY folder;
        if (!strFolder.empty() && strFolder != "/") {
            if (!Find(strFolder, folder) || !folder.entry.bFolder)
                return;
            nAddress = folder.nAddress;
        }
        TSK_FS_DIR* pDir = Tsk().tsk_fs_dir_open_meta(m_pFileSystem, nAddress);
        if (pDir == nullptr) {
            Tsk().tsk_error_reset();
            return;
        }
        const bool bNtfs = TSK_FS_TYPE_ISNTFS(m_pFileSystem->ftype);
        std::unordered_set<TSK_INUM_T> aSeen;
        for (std::size_t i = 0, nCount = Tsk().tsk_fs_dir_getsize(pDir); i < nCount; ++i) {
            const TSK_FS_NAME* pName = Tsk().tsk_fs_dir_get_name(pDir, i);
            if (pName == nullptr || pName->name == nullptr || !(pName->flags & TSK_FS_NAME_FLAG_UNALLOC) ||
                pName->type == TSK_FS_NAME_TYPE_DIR || pName->type == TSK_FS_NAME_TYPE_VIRT ||
                pName->type == TSK_FS_NAME_TYPE_VIRT_DIR || pName->meta_addr == 0 ||
                (bNtfs && pName->meta_addr < kFirstUserRecord) || !aSeen.insert(pName->meta_addr).second)
                continue;
            DELETEDENTRY entry;
            entry.strName = pName->name;
            // FAT marks a deleted entry in its first byte, which libtsk shows as "_".
            if (TSK_FS_TYPE_ISFAT(m_pFileSystem->ftype) && !entry.strName.empty())
                entry.strName[0] = '?';
            entry.nAddress = pName->meta_addr;
            aEntries.push_back(std::move(entry));
        }
        Tsk().tsk_fs_dir_close(pDir);
    }

    std::unique_ptr<CVolumeFile> OpenDeleted(uint64_t nAddress) const override
    {
        TSK_FS_FILE* pFile = Tsk().tsk_fs_file_open_meta(m_pFileSystem, nullptr, static_cast<TSK_INUM_T>(nAddress));
        if (pFile == nullptr || pFile->meta == nullptr || pFile->meta->type != TSK_FS_META_TYPE_REG ||
            !(pFile->meta->flags & TSK_FS_META_FLAG_UNALLOC) || !ReadsRight(pFile)) {
            Tsk().tsk_error_reset();
            if (pFile != nullptr)
                Tsk().tsk_fs_file_close(pFile);
            return nullptr;
        }
        return std::make_unique<CImageFile>(pFile);
    }

    std::vector<SHADOWCOPY> OpenShadowCopies(std::string& strError) const override
    {
        if (!TSK_FS_TYPE_ISNTFS(m_pFileSystem->ftype))
            return {};
        return ::OpenShadowCopies(m_strImage, m_pImage, m_nOffset, m_nSize, strError);
    }

    void OwnFiles(std::vector<std::string>& astrFiles) const override
    {
        // The names libtsk opened: split raw segments it may close and open again.
        astrFiles.push_back(m_strImage);
        for (int i = 0; i < m_pImage->num_img && m_pImage->images != nullptr; ++i)
            if (m_pImage->images[i] != nullptr)
                astrFiles.push_back(m_pImage->images[i]);
    }

    bool IsWritable() const override { return false; }

    std::string DisplayName(const std::string& strPath) const override { return WindowsName(strPath); }

private:
    // The entries of a folder, kept; null when the path is no folder.
    const std::vector<IMAGEENTRY>* Listing(const std::string& strFolder) const
    {
        const std::string strKey = strFolder == "/" ? std::string() : strFolder;
        if (auto found = m_listings.find(strKey); found != m_listings.end())
            return &found->second;
        TSK_INUM_T nAddress = m_pFileSystem->root_inum;
        if (!strKey.empty()) {
            IMAGEENTRY entry;
            if (!Find(strKey, entry) || !entry.entry.bFolder)
                return nullptr;
            nAddress = entry.nAddress;
        }
        TSK_FS_DIR* pDir = Tsk().tsk_fs_dir_open_meta(m_pFileSystem, nAddress);
        if (pDir == nullptr) {
            Tsk().tsk_error_reset();
            return nullptr;
        }
        std::vector<IMAGEENTRY> aEntries;
        std::unordered_set<TSK_INUM_T> aSeen;
        const bool bNtfs = TSK_FS_TYPE_ISNTFS(m_pFileSystem->ftype);
        for (std::size_t i = 0, nCount = Tsk().tsk_fs_dir_getsize(pDir); i < nCount; ++i) {
            const TSK_FS_NAME* pName = Tsk().tsk_fs_dir_get_name(pDir, i);
            if (pName == nullptr || pName->name == nullptr || !(pName->flags & TSK_FS_NAME_FLAG_ALLOC) ||
                pName->type == TSK_FS_NAME_TYPE_VIRT || pName->type == TSK_FS_NAME_TYPE_VIRT_DIR ||
                std::strcmp(pName->name, ".") == 0 || std::strcmp(pName->name, "..") == 0 ||
                (bNtfs && pName->meta_addr < kFirstUserRecord))
                continue;
            // The name index holds a file's DOS name beside its long one: one entry a
            // file, the first name libtsk gives, which is the long one.
            if (bNtfs && !aSeen.insert(pName->meta_addr).second)
                continue;
            IMAGEENTRY entry;
            entry.entry.strName = pName->name;
            entry.entry.bFolder = pName->type == TSK_FS_NAME_TYPE_DIR;
            entry.nAddress = pName->meta_addr;
            aEntries.push_back(std::move(entry));
        }
        Tsk().tsk_fs_dir_close(pDir);
        if (bNtfs)
            SortAsIndexed(aEntries);
        m_nCachedEntries += aEntries.size();
        if (m_nCachedEntries > kMaxCachedEntries) {
            m_listings.clear();
            m_nCachedEntries = aEntries.size();
        }
        return &(m_listings[strKey] = std::move(aEntries));
    }

    // The entry a path names, each name matched as it stands.
    bool Find(const std::string& strPath, IMAGEENTRY& entry) const
    {
        const std::size_t nSlash = strPath.rfind('/');
        if (nSlash == std::string::npos)
            return false;
        const std::string strName = strPath.substr(nSlash + 1);
        const std::vector<IMAGEENTRY>* pParent = Listing(strPath.substr(0, nSlash));
        if (pParent == nullptr)
            return false;
        for (const IMAGEENTRY& candidate : *pParent)
            if (candidate.entry.strName == strName) {
                entry = candidate;
                return true;
            }
        return false;
    }

    // An NTFS folder's name index is ordered by the names upper-cased with the
    // volume's own $UpCase table, compared as UTF-16 units.
    void SortAsIndexed(std::vector<IMAGEENTRY>& aEntries) const
    {
        std::vector<std::pair<std::u16string, IMAGEENTRY>> aKeyed;
        for (IMAGEENTRY& entry : aEntries) {
            std::u16string strKey = Utf8ToUtf16(entry.entry.strName);
            for (char16_t& wChar : strKey)
                wChar = m_awUpCase.empty() ? (wChar >= u'a' && wChar <= u'z' ? wChar - 32 : wChar)
                                           : m_awUpCase[wChar];
            aKeyed.emplace_back(std::move(strKey), std::move(entry));
        }
        std::stable_sort(aKeyed.begin(), aKeyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        aEntries.clear();
        for (auto& keyed : aKeyed)
            aEntries.push_back(std::move(keyed.second));
    }

    void ReadUpCase()
    {
        TSK_FS_FILE* pFile = Tsk().tsk_fs_file_open_meta(m_pFileSystem, nullptr, kUpCaseRecord);
        if (pFile == nullptr) {
            Tsk().tsk_error_reset();
            return;
        }
        std::string strTable(0x20000, '\0');
        if (Tsk().tsk_fs_file_read(pFile, 0, strTable.data(), strTable.size(), TSK_FS_FILE_READ_FLAG_NONE) ==
            static_cast<ssize_t>(strTable.size())) {
            const std::u16string strUpCase = Utf16FromBytes(strTable);
            m_awUpCase.assign(strUpCase.begin(), strUpCase.end());
        }
        Tsk().tsk_error_reset();
        Tsk().tsk_fs_file_close(pFile);
    }

    // Whether the default data stream holds the file as Windows reads it: not where
    // NTFS keeps it encrypted or behind a reparse point (WOF, CompactOS).
    static bool ReadsRight(TSK_FS_FILE* pFile)
    {
        for (int i = 0, nCount = Tsk().tsk_fs_file_attr_getsize(pFile); i < nCount; ++i) {
            const TSK_FS_ATTR* pAttr = Tsk().tsk_fs_file_attr_get_idx(pFile, i);
            if (pAttr == nullptr)
                continue;
            if (pAttr->type == TSK_FS_ATTR_TYPE_NTFS_REPARSE || pAttr->type == TSK_FS_ATTR_TYPE_NTFS_LOG ||
                (pAttr->flags & TSK_FS_ATTR_ENC))
                return false;
            if (pAttr->type == TSK_FS_ATTR_TYPE_NTFS_SI && (pAttr->flags & TSK_FS_ATTR_RES) &&
                pAttr->rd.buf != nullptr && pAttr->size >= static_cast<TSK_OFF_T>(kAttributesOffset + 4)) {
                const uint8_t* pFlags = pAttr->rd.buf + kAttributesOffset;
                const uint32_t dwAttributes = pFlags[0] | pFlags[1] << 8 | pFlags[2] << 16 |
                                              static_cast<uint32_t>(pFlags[3]) << 24;
                if (dwAttributes & (kAttributeReparsePoint | kAttributeEncrypted))
                    return false;
            }
        }
        Tsk().tsk_error_reset();
        return true;
    }

    std::string m_strImage;
    TSK_IMG_INFO* m_pImage;
    TSK_FS_INFO* m_pFileSystem;
    TSK_OFF_T m_nOffset;
    TSK_OFF_T m_nSize;
    bool m_bOwnsImage = false;
    std::vector<char16_t> m_awUpCase;
    mutable std::map<std::string, std::vector<IMAGEENTRY>> m_listings;
    mutable std::size_t m_nCachedEntries = 0;
};

struct CANDIDATE {
    uint64_t nSector;
    std::unique_ptr<CImageVolume> pVolume;
};

// The volume at a byte offset, nSize bytes long, when it is NTFS or FAT and holds
// Windows.
std::unique_ptr<CImageVolume> WindowsVolumeAt(const std::string& strImage, TSK_IMG_INFO* pImage, TSK_OFF_T nOffset,
                                              TSK_OFF_T nSize)
{
    TSK_FS_INFO* pFileSystem = Tsk().tsk_fs_open_img(pImage, nOffset, TSK_FS_TYPE_DETECT);
    if (pFileSystem == nullptr) {
        Tsk().tsk_error_reset();
        return nullptr;
    }
    if (!TSK_FS_TYPE_ISNTFS(pFileSystem->ftype) && !TSK_FS_TYPE_ISFAT(pFileSystem->ftype)) {
        Tsk().tsk_fs_close(pFileSystem);
        return nullptr;
    }
    auto pVolume = std::make_unique<CImageVolume>(strImage, pImage, pFileSystem, nOffset, nSize);
    if (!pVolume->Exists(FindNoCase(*pVolume, "", "Windows\\System32\\config\\SOFTWARE")))
        return nullptr;
    return pVolume;
}

// Whether the volume at a byte offset is encrypted with BitLocker (its boot sector's
// signature).
bool IsBitLocker(TSK_IMG_INFO* pImage, TSK_OFF_T nOffset)
{
    char achBoot[11] = {};
    const bool bRead = Tsk().tsk_img_read(pImage, nOffset, achBoot, sizeof(achBoot)) == sizeof(achBoot);
    Tsk().tsk_error_reset();
    return bRead && std::memcmp(achBoot + 3, "-FVE-FS-", 8) == 0;
}

// QCOW and QCOW2 images (KVM, Proxmox, OpenStack), read with libqcow: a libtsk
// image whose reads are libqcow's, one more layer under the file system, as
// libtsk stacks its own.
struct QCOWLIBRARY {
    decltype(&::libqcow_file_initialize) initialize;
    decltype(&::libqcow_file_open) open;
    decltype(&::libqcow_file_get_media_size) get_media_size;
    decltype(&::libqcow_file_read_buffer_at_offset) read_at;
    decltype(&::libqcow_file_close) close;
    decltype(&::libqcow_file_free) free;
    decltype(&::libqcow_error_sprint) error_sprint;
    decltype(&::libqcow_error_free) error_free;
    decltype(&::libqcow_file_get_utf8_backing_filename_size) backing_name_size;
    decltype(&::libqcow_file_get_utf8_backing_filename) backing_name;
    decltype(&::libqcow_file_set_parent_file) set_parent;
};

const QCOWLIBRARY* Qcow(std::string& strError)
{
    static QCOWLIBRARY library;
    static const std::string strLoadError = [] {
        std::string strWhy;
        void* pLibrary = LoadFormatLibrary("libqcow.so.1", strWhy);
        if (pLibrary == nullptr)
            return strWhy;
        if (!FindFunction(pLibrary, "libqcow_file_initialize", library.initialize, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_open", library.open, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_get_media_size", library.get_media_size, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_read_buffer_at_offset", library.read_at, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_close", library.close, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_free", library.free, strWhy) ||
            !FindFunction(pLibrary, "libqcow_error_sprint", library.error_sprint, strWhy) ||
            !FindFunction(pLibrary, "libqcow_error_free", library.error_free, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_get_utf8_backing_filename_size", library.backing_name_size,
                          strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_get_utf8_backing_filename", library.backing_name, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_set_parent_file", library.set_parent, strWhy))
            return strWhy;
        return std::string();
    }();
    strError = strLoadError;
    return strLoadError.empty() ? &library : nullptr;
}

// A snapshot's chain: each image read through its backing file, found beside the
// image by its file name, at most this deep.
constexpr int kMaxQcowChain = 32;

struct QCOWIMAGE {
    TSK_IMG_INFO info;  // first: libtsk sees this
    const QCOWLIBRARY* pLibrary;
    std::vector<libqcow_file_t*>* pChain;  // the image first, then its backing files
};

ssize_t ReadQcow(TSK_IMG_INFO* pInfo, TSK_OFF_T nOffset, char* pBuffer, size_t nSize)
{
    QCOWIMAGE* pImage = reinterpret_cast<QCOWIMAGE*>(pInfo);
    libqcow_error_t* pError = nullptr;
    const ssize_t nRead = pImage->pLibrary->read_at(pImage->pChain->front(), pBuffer, nSize, nOffset, &pError);
    pImage->pLibrary->error_free(&pError);
    return nRead;
}

void CloseChain(const QCOWLIBRARY* pLibrary, std::vector<libqcow_file_t*>& aChain)
{
    for (libqcow_file_t*& pFile : aChain) {
        pLibrary->close(pFile, nullptr);
        pLibrary->free(&pFile, nullptr);
    }
    aChain.clear();
}

void CloseQcow(TSK_IMG_INFO* pInfo)
{
    QCOWIMAGE* pImage = reinterpret_cast<QCOWIMAGE*>(pInfo);
    CloseChain(pImage->pLibrary, *pImage->pChain);
    delete pImage->pChain;
    Tsk().tsk_img_free(pImage);
}

void StatQcow(TSK_IMG_INFO*, FILE*) {}

// libqcow's error as one line, freed.
std::string QcowError(const QCOWLIBRARY* pLibrary, libqcow_error_t*& pError, const char* szDefault)
{
    char szError[512];
    std::snprintf(szError, sizeof(szError), "%s", szDefault);
    if (pError != nullptr)
        pLibrary->error_sprint(pError, szError, sizeof(szError));
    pLibrary->error_free(&pError);
    std::string strError = szError;
    std::replace(strError.begin(), strError.end(), '\n', ' ');
    return strError;
}

// What of a QCOW file libqcow does not read, from its header (QEMU's "qcow2.txt"
// and the version 1 header): one line naming it and the qemu-img convert that
// makes an image it reads; empty when it reads the file.
std::string QcowUnread(const std::string& strPath)
{
    unsigned char aby[4096] = {};
    std::size_t nHave = 0;
    if (FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        nHave = std::fread(aby, 1, sizeof(aby), pFile);
        std::fclose(pFile);
    }
    const auto be = [&](std::size_t nAt, int nBytes) {
        uint64_t nValue = 0;
        for (int i = 0; i < nBytes; ++i)
            nValue = nValue << 8 | (nAt + i < nHave ? aby[nAt + i] : 0);
        return nValue;
    };
    const uint64_t nVersion = be(4, 4), nBacking = be(8, 8);
    const char* const szConvert = "; qemu-img convert -O qcow2";
    if (nVersion == 1)
        return nBacking != 0 ? std::string("a QCOW version 1 snapshot over a backing file is not read") + szConvert +
                                   " makes one that is"
                             : std::string();
    if (nVersion == 3) {
        const uint64_t nIncompatible = be(72, 8);
        if (nIncompatible & (1u << 3))
            return std::string("a QCOW2 image compressed with zstd is not read (libqcow reads zlib alone)") +
                   szConvert + " -o compression_type=zlib makes one that is";
        if (nIncompatible & (1u << 4))
            return std::string("a QCOW2 image with extended L2 entries is not read") + szConvert +
                   " -o extended_l2=off makes one that is";
        if (nIncompatible & (1u << 2))
            return std::string("a QCOW2 image whose data lies in an external file is not read") + szConvert +
                   " makes one that is";
    }
    // The header extensions, from the header's end: a backing file's format.
    std::size_t nAt = nVersion == 3 ? static_cast<std::size_t>(be(100, 4)) : 72;
    while (nBacking != 0 && nAt + 8 <= nHave) {
        const uint64_t nType = be(nAt, 4), nLength = be(nAt + 4, 4);
        if (nType == 0 || nLength > nHave)
            break;
        if (nType == 0xE2792ACA && nLength == 3 && nAt + 11 <= nHave && std::memcmp(aby + nAt + 8, "raw", 3) == 0)
            return std::string("a QCOW2 snapshot over a raw backing file is not read") + szConvert +
                   " makes one that is";
        nAt += 8 + ((nLength + 7) & ~uint64_t{7});
    }
    return std::string();
}

// Opens one QCOW file of a chain; false with strError.
bool OpenQcowFile(const QCOWLIBRARY* pLibrary, const std::string& strPath, std::vector<libqcow_file_t*>& aChain,
                  std::string& strError)
{
    if (const std::string strUnread = QcowUnread(strPath); !strUnread.empty()) {
        strError = (aChain.empty() ? std::string() : strPath + ": ") + strUnread;
        return false;
    }
    libqcow_file_t* pFile = nullptr;
    libqcow_error_t* pError = nullptr;
    if (pLibrary->initialize(&pFile, &pError) != 1 ||
        pLibrary->open(pFile, strPath.c_str(), LIBQCOW_OPEN_READ, &pError) != 1) {
        strError = (aChain.empty() ? std::string() : strPath + ": ") + "a QCOW image libqcow cannot open (" +
                   QcowError(pLibrary, pError, "") + ")";
        if (pFile != nullptr)
            pLibrary->free(&pFile, nullptr);
        return false;
    }
    aChain.push_back(pFile);
    return true;
}

// The backing file the last image of the chain names, opened and set as its
// parent, and so on down the chain; false with strError when one is missing or
// cannot be read.
bool OpenBackingFiles(const QCOWLIBRARY* pLibrary, std::vector<libqcow_file_t*>& aChain, std::string strImage,
                      std::string& strError)
{
    for (;;) {
        libqcow_file_t* const pChild = aChain.back();
        // The image named is the run's system, which its lines name already.
        const std::string strWhose = aChain.size() == 1 ? "its" : strImage + "'s";
        libqcow_error_t* pError = nullptr;
        size_t nSize = 0;
        const int nHas = pLibrary->backing_name_size(pChild, &nSize, &pError);
        if (nHas < 0) {
            strError = strWhose + " backing file's name cannot be read (" + QcowError(pLibrary, pError, "") + ")";
            return false;
        }
        if (nHas == 0 || nSize <= 1)
            return true;
        std::string strName(nSize, '\0');
        if (pLibrary->backing_name(pChild, reinterpret_cast<uint8_t*>(&strName[0]), nSize, &pError) != 1) {
            strError = strWhose + " backing file's name cannot be read (" + QcowError(pLibrary, pError, "") + ")";
            return false;
        }
        strName.resize(std::strlen(strName.c_str()));
        if (aChain.size() >= kMaxQcowChain) {
            strError = "a chain of backing files deeper than " + std::to_string(kMaxQcowChain);
            return false;
        }
        // Beside the image, by its file name alone: a stored folder (absolute, or
        // with "..") is never followed, so that an image cannot name another file
        // of this host to be read.
        const std::size_t nNameSlash = strName.rfind('/');
        const std::string strFile = strName.substr(nNameSlash == std::string::npos ? 0 : nNameSlash + 1);
        std::vector<std::string> astrPlaces;
        for (const std::string& strFolder : FoldersBeside(strImage))
            astrPlaces.push_back(strFolder + "/" + strFile);
        std::string strPlace;
        for (const std::string& strAt : astrPlaces) {
            struct stat info;
            if (strPlace.empty() && !strFile.empty() && stat(strAt.c_str(), &info) == 0 && S_ISREG(info.st_mode))
                strPlace = strAt;
        }
        if (strPlace.empty()) {
            strError = strWhose + " backing file " + strName + " is missing (looked for beside the image, at " +
                       astrPlaces[0] + (astrPlaces.size() > 1 ? " and " + astrPlaces[1] : std::string()) + ")";
            return false;
        }
        if (!OpenQcowFile(pLibrary, strPlace, aChain, strError))
            return false;
        if (pLibrary->set_parent(pChild, aChain.back(), &pError) != 1) {
            strError = strWhose + " backing file " + strPlace + " does not fit it (" +
                       QcowError(pLibrary, pError, "") + ")";
            return false;
        }
        strImage = strPlace;
    }
}

TSK_IMG_INFO* OpenQcow(const std::string& strImage, std::string& strError)
{
    const QCOWLIBRARY* pLibrary = Qcow(strError);
    if (pLibrary == nullptr)
        return nullptr;
    auto pChain = std::make_unique<std::vector<libqcow_file_t*>>();
    libqcow_error_t* pError = nullptr;
    size64_t nSize = 0;
    if (!OpenQcowFile(pLibrary, strImage, *pChain, strError) ||
        !OpenBackingFiles(pLibrary, *pChain, strImage, strError)) {
        CloseChain(pLibrary, *pChain);
        return nullptr;
    }
    if (pLibrary->get_media_size(pChain->front(), &nSize, &pError) != 1 ||
        nSize > static_cast<size64_t>(std::numeric_limits<TSK_OFF_T>::max())) {
        strError = "a QCOW image libqcow cannot open (" + QcowError(pLibrary, pError, "its size is out of range") + ")";
        CloseChain(pLibrary, *pChain);
        return nullptr;
    }
    QCOWIMAGE* pImage = static_cast<QCOWIMAGE*>(Tsk().tsk_img_malloc(sizeof(QCOWIMAGE)));
    if (pImage == nullptr) {
        CloseChain(pLibrary, *pChain);
        strError = "out of memory";
        return nullptr;
    }
    pImage->pLibrary = pLibrary;
    pImage->pChain = pChain.release();
    return Tsk().tsk_img_open_external(pImage, static_cast<TSK_OFF_T>(nSize), 512, ReadQcow, CloseQcow, StatQcow);
}

// An E01's segments, found as libewf finds them (E01, E02, ... beside the first,
// after following a link to it), all of them or none: a missing one is named.
struct EWFLIBRARY {
    decltype(&::libewf_glob) glob;
    decltype(&::libewf_glob_free) glob_free;
    decltype(&::libewf_handle_initialize) initialize;
    decltype(&::libewf_handle_open) open;
    decltype(&::libewf_handle_close) close;
    decltype(&::libewf_handle_free) free;
    decltype(&::libewf_error_sprint) error_sprint;
    decltype(&::libewf_error_free) error_free;
};

const EWFLIBRARY* Ewf(std::string& strError)
{
    static EWFLIBRARY library;
    static const std::string strLoadError = [] {
        std::string strWhy;
        void* pLibrary = LoadFormatLibrary("libewf.so.2", strWhy);
        if (pLibrary == nullptr)
            return strWhy;
        if (!FindFunction(pLibrary, "libewf_glob", library.glob, strWhy) ||
            !FindFunction(pLibrary, "libewf_glob_free", library.glob_free, strWhy) ||
            !FindFunction(pLibrary, "libewf_handle_initialize", library.initialize, strWhy) ||
            !FindFunction(pLibrary, "libewf_handle_open", library.open, strWhy) ||
            !FindFunction(pLibrary, "libewf_handle_close", library.close, strWhy) ||
            !FindFunction(pLibrary, "libewf_handle_free", library.free, strWhy) ||
            !FindFunction(pLibrary, "libewf_error_sprint", library.error_sprint, strWhy) ||
            !FindFunction(pLibrary, "libewf_error_free", library.error_free, strWhy))
            return strWhy;
        return std::string();
    }();
    strError = strLoadError;
    return strLoadError.empty() ? &library : nullptr;
}

// The name of the segment after strName in the EWF naming scheme (E01 ... E99,
// EAA ... EZZ, FAA ...), or empty past its end.
std::string NextSegment(std::string strName)
{
    const std::size_t nSize = strName.size();
    if (nSize < 3)
        return std::string();
    char& chFirst = strName[nSize - 3];
    char& chSecond = strName[nSize - 2];
    char& chThird = strName[nSize - 1];
    const bool bDigits = chSecond >= '0' && chSecond <= '9' && chThird >= '0' && chThird <= '9';
    if (bDigits && !(chSecond == '9' && chThird == '9')) {
        chThird == '9' ? (chThird = '0', ++chSecond) : ++chThird;
        return strName;
    }
    const char chA = chFirst >= 'a' ? 'a' : 'A';
    if (bDigits) {
        chSecond = chThird = chA;  // E99 is followed by EAA
        return strName;
    }
    if (chThird != chA + 25) {
        ++chThird;
    } else if (chSecond != chA + 25) {
        ++chSecond;
        chThird = chA;
    } else if (chFirst != chA + 25) {
        ++chFirst;
        chSecond = chThird = chA;
    } else {
        return std::string();
    }
    return strName;
}

// Whether an EWF segment file ends in a "next" section descriptor (76 bytes, its
// type first), as every segment of a set but the last does.
bool EndsInNextSection(const std::string& strSegment)
{
    constexpr long kDescriptorSize = 76;
    char achType[16] = {};
    FILE* pFile = std::fopen(strSegment.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    const bool bRead = std::fseek(pFile, -kDescriptorSize, SEEK_END) == 0 &&
                       std::fread(achType, 1, sizeof(achType), pFile) == sizeof(achType);
    std::fclose(pFile);
    return bRead && std::memcmp(achType, "next\0", 5) == 0;
}

// How many files beside the first segment are segments of its set: its name with
// an extension of the EWF scheme (E01 ... E99, EAA ... ZZZ), in any letter case.
std::size_t CountSegments(const std::string& strFirst)
{
    const std::size_t nSlash = strFirst.rfind('/');
    const std::string strFolder = nSlash == std::string::npos ? "." : strFirst.substr(0, nSlash);
    const std::string strName = strFirst.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    if (strName.size() < 4)
        return 0;
    const std::string strStem = strName.substr(0, strName.size() - 3);
    std::size_t nCount = 0;
    if (DIR* pFolder = opendir(strFolder.c_str())) {
        while (const dirent* pEntry = readdir(pFolder)) {
            const std::string strEntry = pEntry->d_name;
            if (strEntry.size() != strName.size() || strEntry.compare(0, strStem.size(), strStem) != 0)
                continue;
            const char* const szExtension = strEntry.c_str() + strStem.size();
            const auto letter = [](char ch) { return (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z'; };
            const auto digitOrLetter = [&](char ch) { return (ch >= '0' && ch <= '9') || letter(ch); };
            nCount += (szExtension[0] | 0x20) >= 'e' && letter(szExtension[0]) && digitOrLetter(szExtension[1]) &&
                      digitOrLetter(szExtension[2]);
        }
        closedir(pFolder);
    }
    return nCount;
}

TSK_IMG_INFO* OpenEwf(const std::string& strImage, std::string& strError)
{
    const EWFLIBRARY* pLibrary = Ewf(strError);
    if (pLibrary == nullptr)
        return nullptr;
    // The segments beside the first as named; for a link whose set is not whole
    // there, beside the file it leads to.
    char szReal[PATH_MAX];
    std::string strFirst = strImage;
    char** apszNames = nullptr;
    int nNames = 0;
    libewf_error_t* pError = nullptr;
    for (const std::string& strTry : {strImage, std::string(realpath(strImage.c_str(), szReal) ? szReal : "")}) {
        if (strTry.empty() || (apszNames != nullptr && !EndsInNextSection(apszNames[nNames - 1])))
            continue;
        char** apszFound = nullptr;
        int nFound = 0;
        if (pLibrary->glob(strTry.c_str(), strTry.size(), LIBEWF_FORMAT_UNKNOWN, &apszFound, &nFound, &pError) == 1 &&
            nFound >= 1) {
            if (apszNames != nullptr)
                pLibrary->glob_free(apszNames, nNames, nullptr);
            apszNames = apszFound;
            nNames = nFound;
            strFirst = strTry;
        }
        pLibrary->error_free(&pError);
    }
    if (apszNames == nullptr) {
        strError = "its E01 segments cannot be found";
        return nullptr;
    }
    // Each segment but the last of a set ends in a "next" section, the last in
    // "done": a set whose last segment found ends in "next" lacks the one after it.
    const std::string strLast = apszNames[nNames - 1];
    bool bWhole = false;
    if (EndsInNextSection(strLast)) {
        // libewf's search stops at the gap: the segments there are counted anew.
        const std::string strNext = NextSegment(strLast);
        const std::size_t nCount = CountSegments(strFirst);
        strError = "its segment " + strNext.substr(strNext.rfind('/') + 1) + " is missing (" +
                   std::to_string(nCount) + " segment" + (nCount == 1 ? "" : "s") + " found beside " + strFirst + ")";
    } else {
        // All the segments open as one image.
        libewf_handle_t* pHandle = nullptr;
        bWhole = pLibrary->initialize(&pHandle, &pError) == 1 &&
                 pLibrary->open(pHandle, apszNames, nNames, LIBEWF_OPEN_READ, &pError) == 1;
        if (bWhole) {
            pLibrary->close(pHandle, nullptr);
        } else {
            char szError[512] = "unknown error";
            if (pError != nullptr)
                pLibrary->error_sprint(pError, szError, sizeof(szError));
            strError = std::string("its segments do not open as one image (") + szError + ")";
            std::replace(strError.begin(), strError.end(), '\n', ' ');
        }
        pLibrary->free(&pHandle, nullptr);
        pLibrary->error_free(&pError);
    }
    TSK_IMG_INFO* pImage = nullptr;
    if (bWhole) {
        pImage = Tsk().tsk_img_open_utf8(nNames, apszNames, TSK_IMG_TYPE_EWF_EWF, 0);
        if (pImage == nullptr)
            strError = "not a disk image libtsk can open (" + LibraryError() + ")";
    }
    pLibrary->glob_free(apszNames, nNames, nullptr);
    return pImage;
}

// Opens the image: QCOW with libqcow, E01 with its segments found first, any other
// format as libtsk detects it. Null with strError.
TSK_IMG_INFO* OpenImage(const std::string& strImage, std::string& strError)
{
    char achMagic[8] = {};
    if (FILE* pFile = std::fopen(strImage.c_str(), "rb")) {
        if (std::fread(achMagic, 1, sizeof(achMagic), pFile) != sizeof(achMagic))
            std::memset(achMagic, 0, sizeof(achMagic));
        std::fclose(pFile);
    }
    if (std::memcmp(achMagic, "QFI\xfb", 4) == 0)
        return OpenQcow(strImage, strError);
    if (std::memcmp(achMagic, "EVF\x09\x0d\x0a\xff\x00", 8) == 0)
        return OpenEwf(strImage, strError);
    TSK_IMG_INFO* pImage = Tsk().tsk_img_open_utf8_sing(strImage.c_str(), TSK_IMG_TYPE_DETECT, 0);
    if (pImage == nullptr)
        strError = "not a disk image libtsk can open (" + LibraryError() + ")";
    return pImage;
}

std::string JoinSectors(const std::vector<uint64_t>& anSectors)
{
    std::string strList;
    for (std::size_t i = 0; i < anSectors.size(); ++i)
        strList += (i == 0 ? "" : i + 1 == anSectors.size() ? " and " : ", ") + std::to_string(anSectors[i]);
    return strList;
}

}  // namespace

bool LoadImageLibraries(bool bShadowCopies, std::string& strError)
{
    return LoadTsk(strError) && Ewf(strError) != nullptr && Qcow(strError) != nullptr &&
           (!bShadowCopies || LoadShadowCopyLibraries(strError));
}

const TSKLIBRARY& Tsk()
{
    return g_tsk;
}

std::string LibraryError()
{
    const char* szError = Tsk().tsk_error_get();
    std::string strError = szError != nullptr ? szError : "unknown error";
    Tsk().tsk_error_reset();
    std::replace(strError.begin(), strError.end(), '\n', ' ');
    while (!strError.empty() && strError.back() == ' ')
        strError.pop_back();
    return strError;
}

void* LoadFormatLibrary(const char* szName, std::string& strError)
{
    void* pLibrary = dlopen(szName, RTLD_NOW | RTLD_LOCAL);
    if (pLibrary == nullptr)
        strError = std::string(szName) + " cannot be loaded (" + dlerror() + ")";
    return pLibrary;
}

std::vector<std::string> FoldersBeside(const std::string& strImage)
{
    const auto folderOf = [](const std::string& strPath) {
        const std::size_t nSlash = strPath.rfind('/');
        return nSlash == std::string::npos ? std::string(".") : nSlash == 0 ? std::string("/") : strPath.substr(0, nSlash);
    };
    std::vector<std::string> astrFolders = {folderOf(strImage)};
    char szReal[PATH_MAX];
    if (realpath(strImage.c_str(), szReal) != nullptr && folderOf(szReal) != astrFolders[0]) {
        char szNamed[PATH_MAX];
        if (realpath(astrFolders[0].c_str(), szNamed) == nullptr || folderOf(szReal) != szNamed)
            astrFolders.push_back(folderOf(szReal));
    }
    return astrFolders;
}

namespace {

std::unique_ptr<CVolume> OpenImageVolumeAt(const std::string& strImage, std::string_view strSector,
                                           std::string& strError, std::string& strChosen);

}  // namespace

std::unique_ptr<CVolume> OpenImageVolume(const std::string& strImage, std::string_view strSector,
                                         std::string& strError, std::string& strChosen)
{
    // An image's other files (split raw parts, VMDK extents) are found beside the
    // name the libraries are given: for a link, beside it, and where the image
    // does not read so, beside the file it leads to. What is said is the first.
    std::unique_ptr<CVolume> pVolume = OpenImageVolumeAt(strImage, strSector, strError, strChosen);
    char szReal[PATH_MAX];
    if (pVolume == nullptr && FoldersBeside(strImage).size() > 1 && realpath(strImage.c_str(), szReal) != nullptr) {
        std::string strRealError;
        pVolume = OpenImageVolumeAt(szReal, strSector, strRealError, strChosen);
        if (pVolume != nullptr)
            strError.clear();
    }
    return pVolume;
}

namespace {

std::unique_ptr<CVolume> OpenImageVolumeAt(const std::string& strImage, std::string_view strSector,
                                           std::string& strError, std::string& strChosen)
{
    std::string strLoadError;
    if (!LoadTsk(strLoadError)) {
        strError = strLoadError;
        return nullptr;
    }
    std::string strWhy;
    TSK_IMG_INFO* pImage = OpenImage(strImage, strWhy);
    if (pImage == nullptr) {
        strError = strWhy;
        return nullptr;
    }
    // The volumes: each allocated partition of the partition table, or the image
    // itself when it has none; their start and length in sectors.
    std::vector<std::pair<uint64_t, uint64_t>> aVolumes;
    unsigned nSectorSize = pImage->sector_size;
    if (TSK_VS_INFO* pTable = Tsk().tsk_vs_open(pImage, 0, TSK_VS_TYPE_DETECT)) {
        nSectorSize = pTable->block_size;
        for (TSK_PNUM_T i = 0; i < pTable->part_count; ++i) {
            const TSK_VS_PART_INFO* pPart = Tsk().tsk_vs_part_get(pTable, i);
            if (pPart != nullptr && (pPart->flags & TSK_VS_PART_FLAG_ALLOC))
                aVolumes.emplace_back(pPart->start, pPart->len);
        }
        Tsk().tsk_vs_close(pTable);
    } else {
        Tsk().tsk_error_reset();
        aVolumes.emplace_back(0, static_cast<uint64_t>(pImage->size) / std::max(nSectorSize, 1u));
    }
    std::vector<CANDIDATE> aCandidates;
    std::vector<uint64_t> anBitLocker;
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<TSK_OFF_T>::max());
    for (const auto& [nStart, nLength] : aVolumes) {
        if ((!strSector.empty() && std::to_string(nStart) != strSector) || nSectorSize == 0 ||
            nStart > kMaxOffset / nSectorSize || nLength > kMaxOffset / nSectorSize)
            continue;
        const TSK_OFF_T nOffset = static_cast<TSK_OFF_T>(nStart * nSectorSize);
        const TSK_OFF_T nSize = static_cast<TSK_OFF_T>(nLength * nSectorSize);
        if (IsBitLocker(pImage, nOffset))
            anBitLocker.push_back(nStart);
        else if (auto pVolume = WindowsVolumeAt(strImage, pImage, nOffset, nSize))
            aCandidates.push_back({nStart, std::move(pVolume)});
    }
    if (aCandidates.size() == 1) {
        aCandidates[0].pVolume->OwnImage();
        strChosen = std::to_string(aCandidates[0].nSector);
        return std::move(aCandidates[0].pVolume);
    }
    if (aCandidates.empty()) {
        strError = (!strSector.empty()
                        ? "no Windows volume starts at sector " + std::string(strSector) +
                              " (VIRUSHIST_SYSTEM_VOLUME)"
                        : "no NTFS or FAT volume holds Windows\\System32\\config\\SOFTWARE");
        if (!anBitLocker.empty())
            strError += "; BitLocker-encrypted volume at sector " + JoinSectors(anBitLocker) +
                        ", which libtsk cannot read";
    } else {
        std::vector<uint64_t> anSectors;
        for (const CANDIDATE& candidate : aCandidates)
            anSectors.push_back(candidate.nSector);
        strError = std::to_string(aCandidates.size()) +
                   " Windows volumes, starting at sectors " + JoinSectors(anSectors) +
                   "; name one with VIRUSHIST_SYSTEM_VOLUME=<start sector>";
    }
    aCandidates.clear();
    Tsk().tsk_img_close(pImage);
    return nullptr;
}

}  // namespace

std::unique_ptr<CVolume> OpenWholeImageVolume(const std::string& strName, TSK_IMG_INFO* pImage,
                                              std::string& strError)
{
    TSK_FS_INFO* pFileSystem = Tsk().tsk_fs_open_img(pImage, 0, TSK_FS_TYPE_DETECT);
    if (pFileSystem == nullptr || (!TSK_FS_TYPE_ISNTFS(pFileSystem->ftype) && !TSK_FS_TYPE_ISFAT(pFileSystem->ftype))) {
        strError = pFileSystem == nullptr ? "no file system libtsk can open (" + LibraryError() + ")"
                                          : std::string("neither NTFS nor FAT");
        if (pFileSystem != nullptr)
            Tsk().tsk_fs_close(pFileSystem);
        Tsk().tsk_img_close(pImage);
        return nullptr;
    }
    auto pVolume = std::make_unique<CImageVolume>(strName, pImage, pFileSystem, 0, pImage->size);
    pVolume->OwnImage();
    return pVolume;
}
