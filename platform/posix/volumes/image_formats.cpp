// The image layer: a disk image file opened as one libtsk image, whatever format
// holds it. libtsk opens raw, split raw, VMDK, VHD, VHDX and AFF itself; E01 sets
// are opened once all their segments are found, and QCOW images (with their chains
// of backing files) through libqcow, as a libtsk image whose reads are libqcow's.
// The libraries are loaded here, at run time. What lies in the image (partitions,
// file systems) is image_volume.cpp's.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <libewf.h>
#include <libqcow.h>

#include <algorithm>
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
