// The shadow copies of an image's NTFS volume (Volume Shadow Copy stores), read with
// libvshadow and never written. libvshadow reads the volume through a libbfio handle
// whose reads are libtsk's reads of the image; each store's view of the volume is
// one more libtsk image, whose reads are the store's, and the file system on it a
// volume of its own.
//
// A store reads the blocks it did not copy through the newer stores, newest last,
// over the live volume: a store that is damaged cannot be read, and neither can the
// older ones. libvshadow refuses every store when one store's header cannot be read,
// so the catalog is walked here first: a store whose entries point outside the
// volume, or at blocks that are not its header and block list, is damaged, and it
// and the older stores are shown to libvshadow as unused catalog entries. The newer
// stores are read as they are.
#include <libbfio.h>
#include <libvshadow.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "platform/posix/volumes/image_layers.h"

namespace {

constexpr TSK_OFF_T kVolumeHeaderOffset = 0x1e00;
constexpr TSK_OFF_T kBlockSize = 0x4000;
constexpr std::size_t kEntrySize = 128;
// Windows keeps at most 512 shadow copies of a volume: a catalog that names more,
// or runs through more blocks than they fill, is damaged.
constexpr std::size_t kMaxStores = 512;
constexpr std::size_t kMaxCatalogBlocks = 64;
// Record types of the blocks, and catalog entry types.
constexpr uint32_t kVolumeHeaderRecord = 1;
constexpr uint32_t kCatalogRecord = 2;
constexpr uint32_t kBlockListRecord = 3;
constexpr uint32_t kStoreHeaderRecord = 4;
constexpr uint64_t kUnusedEntry = 1;
constexpr uint64_t kStoreEntry = 2;
constexpr uint64_t kStoreDataEntry = 3;
// {3808876b-c176-4e48-b7ae-04046e6cc752}, as stored: every VSS block starts with it.
constexpr uint8_t kVssIdentifier[16] = {0x6b, 0x87, 0x08, 0x38, 0x76, 0xc1, 0x48, 0x4e,
                                        0xb7, 0xae, 0x04, 0x04, 0x6e, 0x6c, 0xc7, 0x52};

uint64_t ReadLe(const uint8_t* pBytes, int nSize)
{
    uint64_t nValue = 0;
    for (int i = nSize - 1; i >= 0; --i)
        nValue = nValue << 8 | pBytes[i];
    return nValue;
}

struct VSHADOWLIBRARY {
    decltype(&::libvshadow_volume_initialize) volume_initialize;
    decltype(&::libvshadow_volume_open_file_io_handle) volume_open;
    decltype(&::libvshadow_volume_close) volume_close;
    decltype(&::libvshadow_volume_free) volume_free;
    decltype(&::libvshadow_volume_get_number_of_stores) get_number_of_stores;
    decltype(&::libvshadow_volume_get_store) get_store;
    decltype(&::libvshadow_store_free) store_free;
    decltype(&::libvshadow_store_read_buffer_at_offset) read_at;
    decltype(&::libvshadow_store_get_volume_size) get_volume_size;
    decltype(&::libvshadow_store_get_creation_time) get_creation_time;
    decltype(&::libvshadow_error_sprint) error_sprint;
    decltype(&::libvshadow_error_free) error_free;
    decltype(&::libbfio_handle_initialize) handle_initialize;
    decltype(&::libbfio_handle_free) handle_free;
    decltype(&::libbfio_error_free) handle_error_free;
};

const VSHADOWLIBRARY* VShadow(std::string& strError)
{
    static VSHADOWLIBRARY library;
    static const std::string strLoadError = [] {
        std::string strWhy;
        void* pVShadow = LoadFormatLibrary("libvshadow.so.1", strWhy);
        if (pVShadow == nullptr)
            return strWhy;
        void* pBfio = LoadFormatLibrary("libbfio.so.1", strWhy);  // libvshadow's own
        if (pBfio == nullptr)
            return strWhy;
        if (!FindFunction(pVShadow, "libvshadow_volume_initialize", library.volume_initialize, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_volume_open_file_io_handle", library.volume_open, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_volume_close", library.volume_close, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_volume_free", library.volume_free, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_volume_get_number_of_stores", library.get_number_of_stores, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_volume_get_store", library.get_store, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_store_free", library.store_free, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_store_read_buffer_at_offset", library.read_at, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_store_get_volume_size", library.get_volume_size, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_store_get_creation_time", library.get_creation_time, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_error_sprint", library.error_sprint, strWhy) ||
            !FindFunction(pVShadow, "libvshadow_error_free", library.error_free, strWhy) ||
            !FindFunction(pBfio, "libbfio_handle_initialize", library.handle_initialize, strWhy) ||
            !FindFunction(pBfio, "libbfio_handle_free", library.handle_free, strWhy) ||
            !FindFunction(pBfio, "libbfio_error_free", library.handle_error_free, strWhy))
            return strWhy;
        return std::string();
    }();
    strError = strLoadError;
    return strLoadError.empty() ? &library : nullptr;
}

// libvshadow's error on one line, freed.
std::string VShadowError(const VSHADOWLIBRARY& library, libvshadow_error_t*& pError)
{
    char szError[512] = "unknown error";
    if (pError != nullptr)
        library.error_sprint(pError, szError, sizeof(szError));
    library.error_free(&pError);
    std::string strError = szError;
    std::replace(strError.begin(), strError.end(), '\n', ' ');
    while (!strError.empty() && strError.back() == ' ')
        strError.pop_back();
    return strError;
}

// The live volume as libvshadow reads it: the image from the volume's start, with
// the catalog entries of the stores left out shown as unused.
struct VOLUMEIO {
    TSK_IMG_INFO* pImage = nullptr;
    TSK_OFF_T nStart = 0;
    TSK_OFF_T nSize = 0;
    TSK_OFF_T nPosition = 0;
    std::vector<TSK_OFF_T> anUnused;  // where those entries' type fields are
};

// Bytes of the volume; false when they are not all inside it, or unreadable.
bool ReadVolume(const VOLUMEIO& io, uint64_t nOffset, void* pBuffer, std::size_t nSize)
{
    if (nOffset > static_cast<uint64_t>(io.nSize) || nSize > static_cast<uint64_t>(io.nSize) - nOffset)
        return false;
    const ssize_t nRead = Tsk().tsk_img_read(io.pImage, io.nStart + static_cast<TSK_OFF_T>(nOffset),
                                             static_cast<char*>(pBuffer), nSize);
    if (nRead != static_cast<ssize_t>(nSize)) {
        Tsk().tsk_error_reset();
        return false;
    }
    return true;
}

// Whether a whole 16 KiB block of the volume starts with a VSS block header of
// the record type.
bool IsBlock(const VOLUMEIO& io, uint64_t nOffset, uint32_t nRecordType)
{
    uint8_t abHeader[24];
    return nOffset <= static_cast<uint64_t>(io.nSize) && static_cast<uint64_t>(io.nSize) - nOffset >= kBlockSize &&
           ReadVolume(io, nOffset, abHeader, sizeof(abHeader)) &&
           std::memcmp(abHeader, kVssIdentifier, sizeof(kVssIdentifier)) == 0 &&
           ReadLe(abHeader + 20, 4) == nRecordType;
}

// The libbfio handle's functions over a VOLUMEIO.
VOLUMEIO& Io(intptr_t* pHandle)
{
    return *reinterpret_cast<VOLUMEIO*>(pHandle);
}

int FreeIo(intptr_t** ppHandle, libbfio_error_t**)
{
    delete reinterpret_cast<VOLUMEIO*>(*ppHandle);
    *ppHandle = nullptr;
    return 1;
}

int CloneIo(intptr_t** ppTarget, intptr_t* pSource, libbfio_error_t**)
{
    *ppTarget = reinterpret_cast<intptr_t*>(new VOLUMEIO(Io(pSource)));
    return 1;
}

int OpenIo(intptr_t* pHandle, int, libbfio_error_t**)
{
    Io(pHandle).nPosition = 0;
    return 1;
}

int AlwaysIo(intptr_t*, libbfio_error_t**)
{
    return 1;
}

ssize_t ReadIo(intptr_t* pHandle, uint8_t* pBuffer, size_t nSize, libbfio_error_t**)
{
    VOLUMEIO& io = Io(pHandle);
    const TSK_OFF_T nStart = io.nPosition;
    nSize = static_cast<std::size_t>(std::min<TSK_OFF_T>(static_cast<TSK_OFF_T>(nSize), std::max<TSK_OFF_T>(io.nSize - nStart, 0)));
    if (nSize == 0)
        return 0;
    if (!ReadVolume(io, static_cast<uint64_t>(nStart), pBuffer, nSize))
        return -1;
    for (TSK_OFF_T nField : io.anUnused)
        for (TSK_OFF_T i = std::max(nField, nStart); i < std::min<TSK_OFF_T>(nField + 8, nStart + static_cast<TSK_OFF_T>(nSize)); ++i)
            pBuffer[i - nStart] = i == nField ? static_cast<uint8_t>(kUnusedEntry) : 0;
    io.nPosition += static_cast<TSK_OFF_T>(nSize);
    return static_cast<ssize_t>(nSize);
}

ssize_t WriteIo(intptr_t*, const uint8_t*, size_t, libbfio_error_t**)
{
    return -1;
}

off64_t SeekIo(intptr_t* pHandle, off64_t nOffset, int nWhence, libbfio_error_t**)
{
    VOLUMEIO& io = Io(pHandle);
    const TSK_OFF_T nBase = nWhence == SEEK_SET ? 0 : nWhence == SEEK_CUR ? io.nPosition : io.nSize;
    if (nWhence != SEEK_SET && nWhence != SEEK_CUR && nWhence != SEEK_END)
        return -1;
    if ((nOffset < 0 && nBase + nOffset < 0) || (nOffset > 0 && nOffset > std::numeric_limits<TSK_OFF_T>::max() - nBase))
        return -1;
    io.nPosition = nBase + nOffset;
    return io.nPosition;
}

int GetSizeIo(intptr_t* pHandle, size64_t* pnSize, libbfio_error_t**)
{
    *pnSize = static_cast<size64_t>(Io(pHandle).nSize);
    return 1;
}

// A store as the catalog names it: where its two entries are, its creation time,
// and why it is damaged (empty when it is not).
struct STOREENTRY {
    uint8_t abIdentifier[16] = {};
    TSK_OFF_T nStoreEntry = -1;
    TSK_OFF_T nDataEntry = -1;
    uint64_t nCreated = 0;
    std::string strDamage;
};

// The stores of the volume's catalog, in its order; false when the volume keeps no
// shadow copies (no VSS volume header, or no catalog), strError when the catalog
// itself cannot be read.
bool ReadCatalog(const VOLUMEIO& io, std::vector<STOREENTRY>& aStores, std::string& strError)
{
    uint8_t abHeader[56];
    if (!ReadVolume(io, kVolumeHeaderOffset, abHeader, sizeof(abHeader)) ||
        std::memcmp(abHeader, kVssIdentifier, sizeof(kVssIdentifier)) != 0 ||
        ReadLe(abHeader + 20, 4) != kVolumeHeaderRecord || ReadLe(abHeader + 48, 8) == 0)
        return false;
    std::set<uint64_t> anSeen;
    std::vector<uint8_t> abBlock(kBlockSize);
    for (uint64_t nBlock = ReadLe(abHeader + 48, 8); nBlock != 0; nBlock = ReadLe(abBlock.data() + 40, 8)) {
        if (!anSeen.insert(nBlock).second || anSeen.size() > kMaxCatalogBlocks || !IsBlock(io, nBlock, kCatalogRecord) ||
            !ReadVolume(io, nBlock, abBlock.data(), abBlock.size())) {
            strError = "the catalog of shadow copies is damaged at byte " + std::to_string(nBlock) + " of the volume";
            return true;
        }
        for (std::size_t nEntry = kEntrySize; nEntry + kEntrySize <= abBlock.size(); nEntry += kEntrySize) {
            const uint8_t* pEntry = abBlock.data() + nEntry;
            const uint64_t nType = ReadLe(pEntry, 8);
            const TSK_OFF_T nPlace = static_cast<TSK_OFF_T>(nBlock + nEntry);
            if (nType == kStoreEntry) {
                if (aStores.size() == kMaxStores) {
                    strError = "the catalog of shadow copies names more than " + std::to_string(kMaxStores);
                    return true;
                }
                STOREENTRY store;
                std::memcpy(store.abIdentifier, pEntry + 16, sizeof(store.abIdentifier));
                store.nStoreEntry = nPlace;
                store.nCreated = ReadLe(pEntry + 48, 8);
                aStores.push_back(store);
            } else if (nType == kStoreDataEntry) {
                auto found = std::find_if(aStores.begin(), aStores.end(), [&](const STOREENTRY& store) {
                    return store.nDataEntry < 0 && std::memcmp(store.abIdentifier, pEntry + 16, 16) == 0;
                });
                if (found == aStores.end())
                    continue;
                found->nDataEntry = nPlace;
                const uint64_t nList = ReadLe(pEntry + 8, 8), nStoreHeader = ReadLe(pEntry + 32, 8);
                const uint64_t nEnd = static_cast<uint64_t>(io.nSize);
                if (nList >= nEnd || nStoreHeader >= nEnd)
                    found->strDamage = "its catalog entry points past the volume's end";
                else if (!IsBlock(io, nStoreHeader, kStoreHeaderRecord) || !IsBlock(io, nList, kBlockListRecord))
                    found->strDamage = "its catalog entry points at no store";
            }
        }
    }
    for (STOREENTRY& store : aStores)
        if (store.nDataEntry < 0)
            store.strDamage = "the catalog holds no store for it";
    return true;
}

// libvshadow's volume and the handle it reads through, kept while any of its
// stores is read.
struct SHADOWSET {
    const VSHADOWLIBRARY* pLibrary = nullptr;
    libbfio_handle_t* pHandle = nullptr;
    libvshadow_volume_t* pVolume = nullptr;
    bool bOpen = false;

    ~SHADOWSET()
    {
        if (bOpen)
            pLibrary->volume_close(pVolume, nullptr);
        if (pVolume != nullptr)
            pLibrary->volume_free(&pVolume, nullptr);
        if (pHandle != nullptr)
            pLibrary->handle_free(&pHandle, nullptr);
    }
};

// A store's view of the volume as a libtsk image.
struct STOREIMAGE {
    TSK_IMG_INFO info;  // first: libtsk sees this
    libvshadow_store_t* pStore;
    std::shared_ptr<SHADOWSET>* pSet;
};

ssize_t ReadStore(TSK_IMG_INFO* pInfo, TSK_OFF_T nOffset, char* pBuffer, size_t nSize)
{
    STOREIMAGE* pImage = reinterpret_cast<STOREIMAGE*>(pInfo);
    const VSHADOWLIBRARY& library = *(*pImage->pSet)->pLibrary;
    libvshadow_error_t* pError = nullptr;
    const ssize_t nRead = library.read_at(pImage->pStore, pBuffer, nSize, nOffset, &pError);
    library.error_free(&pError);
    return nRead;
}

void CloseStore(TSK_IMG_INFO* pInfo)
{
    STOREIMAGE* pImage = reinterpret_cast<STOREIMAGE*>(pInfo);
    (*pImage->pSet)->pLibrary->store_free(&pImage->pStore, nullptr);
    delete pImage->pSet;
    Tsk().tsk_img_free(pImage);
}

void StatStore(TSK_IMG_INFO*, FILE*) {}

// Opens a store's view as a volume; null with strError.
std::unique_ptr<CVolume> OpenStore(const std::shared_ptr<SHADOWSET>& pSet, int nIndex, const std::string& strName,
                                   TSK_OFF_T nLiveSize, uint64_t& nCreated, std::string& strError)
{
    const VSHADOWLIBRARY& library = *pSet->pLibrary;
    libvshadow_store_t* pStore = nullptr;
    libvshadow_error_t* pError = nullptr;
    size64_t nSize = 0;
    if (library.get_store(pSet->pVolume, nIndex, &pStore, &pError) != 1 ||
        library.get_creation_time(pStore, &nCreated, &pError) != 1 ||
        library.get_volume_size(pStore, &nSize, &pError) != 1) {
        strError = "libvshadow cannot read it (" + VShadowError(library, pError) + ")";
        if (pStore != nullptr)
            library.store_free(&pStore, nullptr);
        return nullptr;
    }
    // A volume size out of bounds is known damage of the catalog: the live
    // volume's size holds.
    if (nSize == 0 || nSize > static_cast<size64_t>(nLiveSize))
        nSize = static_cast<size64_t>(nLiveSize);
    STOREIMAGE* pImage = static_cast<STOREIMAGE*>(Tsk().tsk_img_malloc(sizeof(STOREIMAGE)));
    if (pImage == nullptr) {
        library.store_free(&pStore, nullptr);
        strError = "out of memory";
        return nullptr;
    }
    pImage->pStore = pStore;
    pImage->pSet = new std::shared_ptr<SHADOWSET>(pSet);
    TSK_IMG_INFO* pInfo = Tsk().tsk_img_open_external(pImage, static_cast<TSK_OFF_T>(nSize), 512, ReadStore,
                                                       CloseStore, StatStore);
    if (pInfo == nullptr) {
        strError = "libtsk cannot read it (" + LibraryError() + ")";
        CloseStore(&pImage->info);
        return nullptr;
    }
    return OpenWholeImageVolume(strName, pInfo, strError);
}

}  // namespace

bool LoadShadowCopyLibraries(std::string& strError)
{
    return VShadow(strError) != nullptr;
}

std::vector<SHADOWCOPY> OpenShadowCopies(const std::string& strImage, TSK_IMG_INFO* pImage, TSK_OFF_T nOffset,
                                         TSK_OFF_T nSize, std::string& strError)
{
    auto pIo = std::make_unique<VOLUMEIO>();
    pIo->pImage = pImage;
    pIo->nStart = nOffset;
    pIo->nSize = nSize;
    std::vector<STOREENTRY> aStores;
    std::string strWhy;
    if (!ReadCatalog(*pIo, aStores, strWhy) || aStores.empty())
        return {};
    const VSHADOWLIBRARY* pLibrary = strWhy.empty() ? VShadow(strWhy) : nullptr;
    if (pLibrary == nullptr) {
        strError = "shadow copies: " + strWhy;
        return {};
    }
    std::vector<SHADOWCOPY> aCopies(aStores.size());
    for (std::size_t i = 0; i < aStores.size(); ++i) {
        aCopies[i].nNumber = static_cast<unsigned>(i + 1);
        aCopies[i].nCreated = aStores[i].nCreated;
    }
    // The newest damaged store and the older ones are left out, and read by none.
    std::size_t nFirstRead = 0;
    for (std::size_t i = 0; i < aStores.size(); ++i)
        if (!aStores[i].strDamage.empty())
            nFirstRead = i + 1;
    for (std::size_t i = 0; i < nFirstRead; ++i) {
        aCopies[i].strError = !aStores[i].strDamage.empty()
                                  ? aStores[i].strDamage
                                  : "it is read through shadow copy " + std::to_string(nFirstRead) + ", which is damaged";
        for (TSK_OFF_T nEntry : {aStores[i].nStoreEntry, aStores[i].nDataEntry})
            if (nEntry >= 0)
                pIo->anUnused.push_back(nEntry);
    }
    if (nFirstRead == aStores.size())
        return aCopies;

    auto pSet = std::make_shared<SHADOWSET>();
    pSet->pLibrary = pLibrary;
    libvshadow_error_t* pError = nullptr;
    libbfio_error_t* pBfioError = nullptr;
    int nCount = 0;
    std::string strSetError;
    if (pLibrary->handle_initialize(&pSet->pHandle, reinterpret_cast<intptr_t*>(pIo.get()), FreeIo, CloneIo, OpenIo,
                                    AlwaysIo, ReadIo, WriteIo, SeekIo, AlwaysIo, AlwaysIo, GetSizeIo,
                                    LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                    &pBfioError) != 1) {
        // libbfio fails here only when it cannot allocate.
        pLibrary->handle_error_free(&pBfioError);
        pSet->pHandle = nullptr;
        strSetError = "libbfio cannot make a handle";
    } else {
        pIo.release();  // the handle owns it
        if (pLibrary->volume_initialize(&pSet->pVolume, &pError) != 1 ||
            pLibrary->volume_open(pSet->pVolume, pSet->pHandle, LIBVSHADOW_OPEN_READ, &pError) != 1 ||
            pLibrary->get_number_of_stores(pSet->pVolume, &nCount, &pError) != 1)
            strSetError = "libvshadow cannot read it (" + VShadowError(*pLibrary, pError) + ")";
        else
            pSet->bOpen = true;
    }
    // libvshadow numbers the stores it reads in the catalog's order.
    if (strSetError.empty() && static_cast<std::size_t>(nCount) != aStores.size() - nFirstRead)
        strSetError = "libvshadow finds " + std::to_string(nCount) + " of the catalog's " +
                      std::to_string(aStores.size() - nFirstRead) + " stores";
    if (!strSetError.empty()) {
        for (std::size_t i = nFirstRead; i < aStores.size(); ++i)
            aCopies[i].strError = strSetError;
        return aCopies;
    }
    // Newest first: a store that cannot be read leaves the older ones unread too.
    std::string strNewerError;
    for (std::size_t i = aStores.size(); i-- > nFirstRead;) {
        SHADOWCOPY& copy = aCopies[i];
        if (!strNewerError.empty()) {
            copy.strError = strNewerError;
            continue;
        }
        uint64_t nCreated = 0;
        copy.pVolume = OpenStore(pSet, static_cast<int>(i - nFirstRead),
                                 strImage + " (shadow copy " + std::to_string(copy.nNumber) + ")", nSize, nCreated,
                                 copy.strError);
        if (copy.pVolume != nullptr && nCreated != copy.nCreated) {
            copy.pVolume.reset();
            copy.strError = "libvshadow reads another store in its place";
        }
        if (copy.pVolume == nullptr)
            strNewerError = "it is read through shadow copy " + std::to_string(copy.nNumber) + ", which cannot be read";
    }
    return aCopies;
}
