// The layers of a disk image below the volume interface, shared by the image
// reader and the shadow-copy reader (shadow_copies.cpp): The Sleuth Kit and the
// format libraries it does not bring, loaded at run time (image_formats.cpp), and
// an image's file system opened as a volume (image_volume.cpp). Layers stack as libtsk stacks its own:
// a library's reads become a libtsk image (tsk_img_open_external), and a file
// system is opened on it.
#pragma once

#include <dlfcn.h>
#include <tsk/libtsk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/volumes/volume.h"

// libtsk is loaded when an image is opened, not when the program starts: it brings
// some forty libraries with it (libewf, libvmdk, libvhdi, afflib and what afflib
// links), which would triple the memory of every run that reads no image.
struct TSKLIBRARY {
    decltype(&::tsk_error_get) tsk_error_get;
    decltype(&::tsk_error_reset) tsk_error_reset;
    decltype(&::tsk_fs_close) tsk_fs_close;
    decltype(&::tsk_fs_dir_close) tsk_fs_dir_close;
    decltype(&::tsk_fs_dir_get_name) tsk_fs_dir_get_name;
    decltype(&::tsk_fs_dir_getsize) tsk_fs_dir_getsize;
    decltype(&::tsk_fs_dir_open_meta) tsk_fs_dir_open_meta;
    decltype(&::tsk_fs_file_attr_get_idx) tsk_fs_file_attr_get_idx;
    decltype(&::tsk_fs_file_attr_getsize) tsk_fs_file_attr_getsize;
    decltype(&::tsk_fs_file_close) tsk_fs_file_close;
    decltype(&::tsk_fs_file_open_meta) tsk_fs_file_open_meta;
    decltype(&::tsk_fs_file_read) tsk_fs_file_read;
    decltype(&::tsk_fs_open_img) tsk_fs_open_img;
    decltype(&::tsk_img_close) tsk_img_close;
    void (*tsk_img_free)(void*);      // libtsk's own allocation of an image,
    void* (*tsk_img_malloc)(size_t);  // exported though its header is not installed
    decltype(&::tsk_img_open_external) tsk_img_open_external;
    decltype(&::tsk_img_open_utf8) tsk_img_open_utf8;
    decltype(&::tsk_img_open_utf8_sing) tsk_img_open_utf8_sing;
    decltype(&::tsk_img_read) tsk_img_read;
    decltype(&::tsk_vs_close) tsk_vs_close;
    decltype(&::tsk_vs_open) tsk_vs_open;
    decltype(&::tsk_vs_part_get) tsk_vs_part_get;
};

// libtsk's functions; loaded before any image is opened.
const TSKLIBRARY& Tsk();

// What libtsk says went wrong, on one line; its error state is cleared.
std::string LibraryError();

// A library of a format libtsk does not read itself, loaded when such an image is
// opened: its handle, or null with strError.
void* LoadFormatLibrary(const char* szName, std::string& strError);

template <typename Function>
bool FindFunction(void* pLibrary, const char* szName, Function& pFunction, std::string& strError)
{
    pFunction = reinterpret_cast<Function>(dlsym(pLibrary, szName));
    if (pFunction == nullptr)
        strError = std::string("the image library has no ") + szName;
    return pFunction != nullptr;
}

// The image file strImage opened as one libtsk image (loading libtsk first):
// QCOW with libqcow, E01 with its segments found first, any other format as libtsk
// detects it. Null with strError.
TSK_IMG_INFO* OpenImage(const std::string& strImage, std::string& strError);

// The NTFS or FAT file system that fills an image (a shadow copy's view of a
// volume), as a volume that closes the image with it; strName names it in
// messages. Null, the image closed, with strError when there is none.
std::unique_ptr<CVolume> OpenWholeImageVolume(const std::string& strName, TSK_IMG_INFO* pImage,
                                              std::string& strError);

// The shadow copies (Volume Shadow Copy stores) of the NTFS volume at nOffset of an
// image, nSize bytes long, read with libvshadow, oldest first; strImage names the
// image in messages. None when the volume keeps none; strError when they cannot
// be read at all.
std::vector<SHADOWCOPY> OpenShadowCopies(const std::string& strImage, TSK_IMG_INFO* pImage, TSK_OFF_T nOffset,
                                         TSK_OFF_T nSize, std::string& strError);

// Loads libvshadow and libbfio, which OpenShadowCopies reads with; false with
// strError when they cannot be had.
bool LoadShadowCopyLibraries(std::string& strError);

// Loads every library an image may be read with (libtsk, libewf, libqcow, and
// with bShadowCopies libvshadow and libbfio), as a process does before it is
// confined; false with strError when one cannot be had.
bool LoadImageLibraries(bool bShadowCopies, std::string& strError);
