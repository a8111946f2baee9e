// The Windows volume of a disk image, read with The Sleuth Kit and never mounted:
// above the image (image_formats.cpp), its partition table (MBR, GPT) or none, the
// choice of the partition that holds Windows, and its NTFS or FAT file system
// behind the volume interface. Opened read only; nothing is written. Only
// allocated entries exist; each file is listed once, under its long name; a folder
// is delivered as Windows delivers it: NTFS in the order of its name index, FAT in
// directory order.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/codes.h"
#include "platform/posix/locale/codepage.h"
#include "platform/posix/volumes/image_layers.h"
#include "platform/posix/volumes/volume.h"

namespace {

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

    // The size its file system records.
    TSK_OFF_T Size() const { return m_pFile->meta->size; }

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
        return OpenFile(strPath, pdwError);
    }

    int OpenDescriptor(const std::string& strPath, uint64_t nMaxSize, std::string& strError) const override
    {
        uint32_t dwError = 0;
        const std::unique_ptr<CImageFile> pFile = OpenFile(strPath, &dwError);
        if (pFile == nullptr) {
            strError = dwError == ERROR_FILE_NOT_FOUND ? "missing" : "not a file libtsk can read";
            return -1;
        }
        // Refused by the size the file system records, before a byte is copied: a
        // sparse file of a few clusters can claim gigabytes of zeros.
        if (pFile->Size() > 0 && static_cast<uint64_t>(pFile->Size()) > nMaxSize) {
            strError = TooLarge(nMaxSize);
            return -1;
        }
        const int nFd = memfd_create("virushist-hive", MFD_CLOEXEC);
        if (nFd < 0) {
            strError = "unreadable (" + std::string(std::strerror(errno)) + ")";
            return -1;
        }
        std::vector<char> achChunk(kCopyChunk);
        uint64_t nCopied = 0;
        long nRead;
        while ((nRead = pFile->Read(achChunk.data(), achChunk.size())) > 0) {
            // The copy never outgrows the cap, whatever the recorded size said.
            nCopied += static_cast<uint64_t>(nRead);
            if (nCopied > nMaxSize) {
                strError = TooLarge(nMaxSize);
                close(nFd);
                return -1;
            }
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
    // A file of the volume, or null with *pdwError set.
    std::unique_ptr<CImageFile> OpenFile(const std::string& strPath, uint32_t* pdwError) const
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
// Windows; bFileSystem is set when libtsk finds any file system there.
std::unique_ptr<CImageVolume> WindowsVolumeAt(const std::string& strImage, TSK_IMG_INFO* pImage, TSK_OFF_T nOffset,
                                              TSK_OFF_T nSize, bool& bFileSystem)
{
    TSK_FS_INFO* pFileSystem = Tsk().tsk_fs_open_img(pImage, nOffset, TSK_FS_TYPE_DETECT);
    if (pFileSystem == nullptr) {
        Tsk().tsk_error_reset();
        return nullptr;
    }
    bFileSystem = true;
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

std::string JoinSectors(const std::vector<uint64_t>& anSectors)
{
    std::string strList;
    for (std::size_t i = 0; i < anSectors.size(); ++i)
        strList += (i == 0 ? "" : i + 1 == anSectors.size() ? " and " : ", ") + std::to_string(anSectors[i]);
    return strList;
}

// The one Windows volume of an image as named, or the one at strSector.
std::unique_ptr<CVolume> OpenImageVolumeAt(const std::string& strImage, std::string_view strSector,
                                           std::string& strError, std::string& strChosen)
{
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
    TSK_VS_INFO* const pTable = Tsk().tsk_vs_open(pImage, 0, TSK_VS_TYPE_DETECT);
    const bool bTable = pTable != nullptr;
    if (bTable) {
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
    bool bFileSystem = false;  // any file system at all, Windows's or not
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<TSK_OFF_T>::max());
    for (const auto& [nStart, nLength] : aVolumes) {
        if ((!strSector.empty() && std::to_string(nStart) != strSector) || nSectorSize == 0 ||
            nStart > kMaxOffset / nSectorSize || nLength > kMaxOffset / nSectorSize)
            continue;
        const TSK_OFF_T nOffset = static_cast<TSK_OFF_T>(nStart * nSectorSize);
        const TSK_OFF_T nSize = static_cast<TSK_OFF_T>(nLength * nSectorSize);
        if (IsBitLocker(pImage, nOffset))
            anBitLocker.push_back(nStart);
        else if (auto pVolume = WindowsVolumeAt(strImage, pImage, nOffset, nSize, bFileSystem))
            aCandidates.push_back({nStart, std::move(pVolume)});
    }
    if (aCandidates.size() == 1) {
        aCandidates[0].pVolume->OwnImage();
        strChosen = std::to_string(aCandidates[0].nSector);
        return std::move(aCandidates[0].pVolume);
    }
    if (aCandidates.empty()) {
        // An image with neither a partition table nor a file system holds no
        // volume at all: a hive is not what it lacks.
        strError = !strSector.empty() ? "no Windows volume starts at sector " + std::string(strSector) +
                                            " (VIRUSHIST_SYSTEM_VOLUME)"
                   : !bTable && !bFileSystem && anBitLocker.empty()
                       ? "no partition table or file system"
                       : "no NTFS or FAT volume holds Windows\\System32\\config\\SOFTWARE";
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