// The image layer: a disk image file opened as one libtsk image, whatever format
// holds it. libtsk opens raw, split raw, VMDK, VHD, VHDX and AFF itself; E01 sets
// are opened once all their segments are found, and QCOW images (with their chains
// of backing files) through libqcow, as a libtsk image whose reads are libqcow's.
// The libraries are loaded here, at run time. What lies in the image (partitions,
// file systems) is image_volume.cpp's.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libbfio.h>
#include <libewf.h>
// libqcow's header declares its libbfio functions only where told the library has them.
#define HAVE_LIBBFIO 1
#include <libqcow.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/volumes/image_layers.h"
#include "platform/posix/volumes/volume.h"

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
    decltype(&::libqcow_file_open_file_io_handle) open_io;
    decltype(&::libbfio_handle_initialize) handle_initialize;
    decltype(&::libbfio_handle_free) handle_free;
    decltype(&::libbfio_error_free) handle_error_free;
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
            !FindFunction(pLibrary, "libqcow_file_set_parent_file", library.set_parent, strWhy) ||
            !FindFunction(pLibrary, "libqcow_file_open_file_io_handle", library.open_io, strWhy))
            return strWhy;
        void* pBfio = LoadFormatLibrary("libbfio.so.1", strWhy);  // libqcow's own
        if (pBfio == nullptr || !FindFunction(pBfio, "libbfio_handle_initialize", library.handle_initialize, strWhy) ||
            !FindFunction(pBfio, "libbfio_handle_free", library.handle_free, strWhy) ||
            !FindFunction(pBfio, "libbfio_error_free", library.handle_error_free, strWhy))
            return strWhy;
        return std::string();
    }();
    strError = strLoadError;
    return strLoadError.empty() ? &library : nullptr;
}

// A snapshot's chain: each image read through its backing file, found beside the
// image by its file name, at most this deep.
constexpr int kMaxQcowChain = 32;

// One file of a chain: opened by its path (the image named), or read through a
// descriptor handed over (a backing file), with the libbfio handle that reads it.
struct QCOWLINK {
    libqcow_file_t* pFile = nullptr;
    libbfio_handle_t* pHandle = nullptr;
    int nFd = -1;
};

struct QCOWIMAGE {
    TSK_IMG_INFO info;  // first: libtsk sees this
    const QCOWLIBRARY* pLibrary;
    std::vector<QCOWLINK>* pChain;  // the image first, then its backing files
};

ssize_t ReadQcow(TSK_IMG_INFO* pInfo, TSK_OFF_T nOffset, char* pBuffer, size_t nSize)
{
    QCOWIMAGE* pImage = reinterpret_cast<QCOWIMAGE*>(pInfo);
    libqcow_error_t* pError = nullptr;
    const ssize_t nRead = pImage->pLibrary->read_at(pImage->pChain->front().pFile, pBuffer, nSize, nOffset, &pError);
    pImage->pLibrary->error_free(&pError);
    return nRead;
}

void CloseChain(const QCOWLIBRARY* pLibrary, std::vector<QCOWLINK>& aChain)
{
    for (QCOWLINK& link : aChain) {
        pLibrary->close(link.pFile, nullptr);
        pLibrary->free(&link.pFile, nullptr);
        if (link.pHandle != nullptr)
            pLibrary->handle_free(&link.pHandle, nullptr);
        if (link.nFd >= 0)
            close(link.nFd);
    }
    aChain.clear();
}

// The libbfio handle's functions over a descriptor, read with pread: libqcow
// reads a backing file handed over, which no path would open in a reader.
struct FDIO {
    int nFd;
    off64_t nPosition;
};

FDIO& Io(intptr_t* pHandle)
{
    return *reinterpret_cast<FDIO*>(pHandle);
}

int FreeFdIo(intptr_t** ppHandle, libbfio_error_t**)
{
    delete reinterpret_cast<FDIO*>(*ppHandle);
    *ppHandle = nullptr;
    return 1;
}

int CloneFdIo(intptr_t** ppTarget, intptr_t* pSource, libbfio_error_t**)
{
    *ppTarget = reinterpret_cast<intptr_t*>(new FDIO{Io(pSource).nFd, 0});
    return 1;
}

int OpenFdIo(intptr_t* pHandle, int, libbfio_error_t**)
{
    Io(pHandle).nPosition = 0;
    return 1;
}

int AlwaysFdIo(intptr_t*, libbfio_error_t**)
{
    return 1;
}

ssize_t ReadFdIo(intptr_t* pHandle, uint8_t* pBuffer, size_t nSize, libbfio_error_t**)
{
    FDIO& io = Io(pHandle);
    ssize_t nRead;
    while ((nRead = pread(io.nFd, pBuffer, nSize, io.nPosition)) < 0 && errno == EINTR) {
    }
    if (nRead > 0)
        io.nPosition += nRead;
    return nRead;
}

ssize_t WriteFdIo(intptr_t*, const uint8_t*, size_t, libbfio_error_t**)
{
    return -1;
}

off64_t SeekFdIo(intptr_t* pHandle, off64_t nOffset, int nWhence, libbfio_error_t**)
{
    FDIO& io = Io(pHandle);
    struct stat info;
    if (nWhence == SEEK_END && fstat(io.nFd, &info) != 0)
        return -1;
    const off64_t nBase = nWhence == SEEK_SET ? 0 : nWhence == SEEK_CUR ? io.nPosition : info.st_size;
    if ((nWhence != SEEK_SET && nWhence != SEEK_CUR && nWhence != SEEK_END) || (nOffset < 0 && nBase + nOffset < 0) ||
        (nOffset > 0 && nOffset > std::numeric_limits<off64_t>::max() - nBase))
        return -1;
    io.nPosition = nBase + nOffset;
    return io.nPosition;
}

int GetSizeFdIo(intptr_t* pHandle, size64_t* pnSize, libbfio_error_t**)
{
    struct stat info;
    if (fstat(Io(pHandle).nFd, &info) != 0)
        return -1;
    *pnSize = static_cast<size64_t>(info.st_size);
    return 1;
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
std::string QcowUnread(int nFd)
{
    unsigned char aby[4096] = {};
    const ssize_t nRead = pread(nFd, aby, sizeof(aby), 0);
    const std::size_t nHave = nRead > 0 ? static_cast<std::size_t>(nRead) : 0;
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

// Opens one QCOW file of a chain, read through nFd, which the chain then owns
// (the image named is opened by its path as well, which libqcow reads); false
// with strError.
bool OpenQcowFile(const QCOWLIBRARY* pLibrary, const std::string& strPath, int nFd, std::vector<QCOWLINK>& aChain,
                  std::string& strError)
{
    const bool bNamed = aChain.empty();
    const std::string strWhose = bNamed ? std::string() : strPath + ": ";
    QCOWLINK link;
    if (const std::string strUnread = QcowUnread(nFd); !strUnread.empty()) {
        strError = strWhose + strUnread;
        close(nFd);
        return false;
    }
    libqcow_error_t* pError = nullptr;
    libbfio_error_t* pBfioError = nullptr;
    bool bOpen = pLibrary->initialize(&link.pFile, &pError) == 1;
    if (bOpen && bNamed) {
        close(nFd);
        bOpen = pLibrary->open(link.pFile, strPath.c_str(), LIBQCOW_OPEN_READ, &pError) == 1;
    } else if (bOpen) {
        link.nFd = nFd;
        auto pIo = std::make_unique<FDIO>(FDIO{nFd, 0});
        if (pLibrary->handle_initialize(&link.pHandle, reinterpret_cast<intptr_t*>(pIo.get()), FreeFdIo, CloneFdIo,
                                        OpenFdIo, AlwaysFdIo, ReadFdIo, WriteFdIo, SeekFdIo, AlwaysFdIo, AlwaysFdIo,
                                        GetSizeFdIo,
                                        LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                        &pBfioError) != 1) {
            pLibrary->handle_error_free(&pBfioError);
            link.pHandle = nullptr;
            bOpen = false;
        } else {
            pIo.release();  // the handle owns it
            bOpen = pLibrary->open_io(link.pFile, link.pHandle, LIBQCOW_OPEN_READ, &pError) == 1;
        }
    } else {
        close(nFd);
    }
    if (!bOpen) {
        strError = strWhose + "a QCOW image libqcow cannot open (" + QcowError(pLibrary, pError, "") + ")";
        if (link.pFile != nullptr)
            pLibrary->free(&link.pFile, nullptr);
        if (link.pHandle != nullptr)
            pLibrary->handle_free(&link.pHandle, nullptr);
        if (link.nFd >= 0)
            close(link.nFd);
        return false;
    }
    aChain.push_back(link);
    return true;
}

// The backing file the last image of the chain names, opened and set as its
// parent, and so on down the chain; false with strError when one is missing or
// cannot be read. Each is looked for beside the image named, by its file name
// alone, and read through the descriptor OpenFileBeside gives.
bool OpenBackingFiles(const QCOWLIBRARY* pLibrary, std::vector<QCOWLINK>& aChain, const std::string& strNamed,
                      std::string& strError)
{
    std::string strImage = strNamed;
    for (;;) {
        libqcow_file_t* const pChild = aChain.back().pFile;
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
        std::string strPlace;
        const int nFd = OpenFileBeside(strNamed, strFile, strPlace);
        if (nFd < 0) {
            const std::vector<std::string> astrFolders = FoldersBeside(strNamed);
            strError = strWhose + " backing file " + strName + " is missing (looked for beside the image, at " +
                       astrFolders[0] + "/" + strFile +
                       (astrFolders.size() > 1 ? " and " + astrFolders[1] + "/" + strFile : std::string()) + ")";
            return false;
        }
        if (!OpenQcowFile(pLibrary, strPlace, nFd, aChain, strError))
            return false;
        if (pLibrary->set_parent(pChild, aChain.back().pFile, &pError) != 1) {
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
    auto pChain = std::make_unique<std::vector<QCOWLINK>>();
    libqcow_error_t* pError = nullptr;
    size64_t nSize = 0;
    const int nFd = open(strImage.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0) {
        strError = std::string("a QCOW image that cannot be read (") + std::strerror(errno) + ")";
        return nullptr;
    }
    if (!OpenQcowFile(pLibrary, strImage, nFd, *pChain, strError) ||
        !OpenBackingFiles(pLibrary, *pChain, strImage, strError)) {
        CloseChain(pLibrary, *pChain);
        return nullptr;
    }
    if (pLibrary->get_media_size(pChain->front().pFile, &nSize, &pError) != 1 ||
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

// How many files beside the first segment are segments of its set: each name of
// the EWF scheme (E01 ... E99, EAA ... ZZZ) looked up in turn, since a reader may
// not list the folder around the image.
std::size_t CountSegments(const std::string& strFirst)
{
    std::size_t nCount = 0;
    for (std::string strName = strFirst; !strName.empty(); strName = NextSegment(strName)) {
        struct stat info;
        nCount += stat(strName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

}  // namespace

TSK_IMG_INFO* OpenImage(const std::string& strImage, std::string& strError)
{
    if (!LoadTsk(strError))
        return nullptr;
    char achMagic[0x44] = {};
    bool bEmpty = false;
    if (FILE* pFile = std::fopen(strImage.c_str(), "rb")) {
        struct stat info;
        bEmpty = fstat(fileno(pFile), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
        if (std::fread(achMagic, 1, sizeof(achMagic), pFile) != sizeof(achMagic))
            std::memset(achMagic, 0, sizeof(achMagic));
        std::fclose(pFile);
    }
    if (bEmpty) {
        strError = "an empty file, not a disk image";
        return nullptr;
    }
    if (std::memcmp(achMagic, "QFI\xfb", 4) == 0)
        return OpenQcow(strImage, strError);
    if (std::memcmp(achMagic, "EVF\x09\x0d\x0a\xff\x00", 8) == 0)
        return OpenEwf(strImage, strError);
    // Formats libtsk does not read, known by their headers, which it would take for
    // a raw image holding nothing: named, with the conversion that is read.
    const char* szForeign = nullptr;
    if (std::memcmp(achMagic + 0x40, "\x7f\x10\xda\xbe", 4) == 0)
        szForeign = "a VirtualBox VDI image";
    else if (std::memcmp(achMagic, "WithoutFreeSpace", 16) == 0 || std::memcmp(achMagic, "WithouFreSpacExt", 16) == 0)
        szForeign = "a Parallels image";
    else if (std::memcmp(achMagic, "QED\0", 4) == 0)
        szForeign = "a QED image";
    if (szForeign != nullptr) {
        strError = std::string(szForeign) + " is not read; qemu-img convert -O qcow2 makes one that is";
        return nullptr;
    }
    TSK_IMG_INFO* pImage = Tsk().tsk_img_open_utf8_sing(strImage.c_str(), TSK_IMG_TYPE_DETECT, 0);
    if (pImage == nullptr)
        strError = "not a disk image libtsk can open (" + LibraryError() + ")";
    return pImage;
}

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

bool IsDigits(std::string_view strText)
{
    return !strText.empty() &&
           std::all_of(strText.begin(), strText.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// The name of the part after strPath's in its image's naming, or empty when its
// name has none: a split raw image's next number (disk.001, disk.002, ...), an
// EWF set's next segment (disk.E01, disk.E02, ... disk.EAA, ..., likewise .L01,
// .s01, .Ex01).
std::string NextPart(const std::string& strPath)
{
    const std::size_t nDot = strPath.rfind('.'), nSlash = strPath.rfind('/');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash))
        return std::string();
    std::string strNext = strPath;
    const std::string_view strExtension = std::string_view(strPath).substr(nDot + 1);
    if (IsDigits(strExtension)) {
        for (std::size_t i = strNext.size(); i-- > nDot + 1;) {
            if (strNext[i] != '9') {
                ++strNext[i];
                return strNext;
            }
            strNext[i] = '0';
        }
        return std::string();
    }
    const auto letter = [](char ch) { return (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z'; };
    const auto digitOrLetter = [&](char ch) { return (ch >= '0' && ch <= '9') || letter(ch); };
    if (strExtension.size() >= 3 && letter(strExtension[0]) &&
        std::all_of(strExtension.end() - 2, strExtension.end(), digitOrLetter))
        return NextSegment(strPath);
    return std::string();
}

// Whether a path is a regular file itself: a link is not, wherever it leads, so
// that no name beside an image can grant the reader another file of this host.
bool IsOwnRegularFile(const std::string& strPath)
{
    struct stat info;
    return lstat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Whether strName is an extent of the VMDK named strImage (both file names), as
// VMware and qemu-img name them: disk.vmdk's disk-flat.vmdk, disk-s001.vmdk,
// disk-f001.vmdk.
bool IsVmdkExtent(std::string_view strImage, std::string_view strName)
{
    const std::string_view strEnd = ".vmdk";
    if (strImage.size() <= strEnd.size() || !EqualNoCase(strImage.substr(strImage.size() - strEnd.size()), strEnd))
        return false;
    const std::string_view strStem = strImage.substr(0, strImage.size() - strEnd.size());
    if (strName.size() <= strStem.size() + 1 + strEnd.size() || strName.substr(0, strStem.size()) != strStem ||
        strName[strStem.size()] != '-' || !EqualNoCase(strName.substr(strName.size() - strEnd.size()), strEnd))
        return false;
    const std::string_view strPart = strName.substr(strStem.size() + 1, strName.size() - strStem.size() - 1 - strEnd.size());
    return EqualNoCase(strPart, "flat") ||
           (((strPart[0] | 0x20) == 's' || (strPart[0] | 0x20) == 'f') && IsDigits(strPart.substr(1)));
}

}  // namespace

std::vector<std::string> ImageFiles(const std::string& strImage)
{
    std::vector<std::string> astrFiles = {strImage};
    std::vector<std::string> astrNamed = {strImage};
    char szReal[PATH_MAX];
    if (realpath(strImage.c_str(), szReal) != nullptr && strImage != szReal)
        astrNamed.push_back(szReal);
    for (const std::string& strNamed : astrNamed) {
        // The parts that follow, to the first missing, as libewf and libtsk find them.
        for (std::string strPart = NextPart(strNamed); !strPart.empty() && IsOwnRegularFile(strPart);
             strPart = NextPart(strPart))
            astrFiles.push_back(strPart);
        // A VMDK's extents: its folder's names alone are read.
        const std::size_t nSlash = strNamed.rfind('/');
        const std::string strFolder = nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : strNamed.substr(0, nSlash);
        const std::string strName = strNamed.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
        if (strName.size() <= 5 || !EqualNoCase(std::string_view(strName).substr(strName.size() - 5), ".vmdk"))
            continue;
        if (DIR* pFolder = opendir(strFolder.c_str())) {
            while (const dirent* pEntry = readdir(pFolder))
                if (IsVmdkExtent(strName, pEntry->d_name) && IsOwnRegularFile(strFolder + "/" + pEntry->d_name))
                    astrFiles.push_back(strFolder + "/" + pEntry->d_name);
            closedir(pFolder);
        }
    }
    return astrFiles;
}

int OpenRegularBeside(const std::string& strImage, const std::string& strName, std::size_t& nFolder)
{
    if (strName.empty() || strName == "." || strName == ".." || strName.find('/') != std::string::npos ||
        strName.size() > NAME_MAX) {
        errno = EINVAL;
        return -1;
    }
    const std::vector<std::string> astrFolders = FoldersBeside(strImage);
    for (nFolder = 0; nFolder < astrFolders.size(); ++nFolder) {
        // A regular file itself, never through a link: the writer opens it with
        // the user's own rights, and the reader may read nothing else of the host.
        const std::string strPath = astrFolders[nFolder] + "/" + strName;
        struct stat named, opened;
        if (lstat(strPath.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
            continue;
        const int nFd = open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (nFd >= 0 && fstat(nFd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev)
            return nFd;
        if (nFd >= 0)
            close(nFd);
    }
    errno = ENOENT;
    return -1;
}
