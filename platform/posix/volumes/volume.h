// volumes/: the volumes a Windows system lives on, each behind this interface.
// host_volume.cpp a folder of this host; a disk image in the layers The Sleuth Kit
// keeps apart: image_formats.cpp the image (raw, E01 segments, QCOW chains, the
// format libraries), image_volume.cpp the choice of the Windows partition and its
// file system; shadow_copies.cpp the Volume Shadow Copy stores of an image's
// volume, each a volume of its own; image_layers.h what the image files share.
//
// Where a drive's files live: a folder of this host, or the file system of a disk
// image read without mounting it. Files, file search and the registry hives reach
// them through this one small interface (list a folder, open a file, read it), so
// the rest of the layer does not know which it has. Paths are names in UTF-8
// joined by "/"; a host volume's paths are the host's own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CVolume;

struct VOLUMEENTRY {
    std::string strName;  // UTF-8
    bool bFolder = false;
};

// A file a folder no longer lists: deleted, its record still naming its data. On
// FAT the first letter of its name is lost, and stands as "?".
struct DELETEDENTRY {
    std::string strName;  // UTF-8
    uint64_t nAddress = 0;
};

// A shadow copy of a volume (a Volume Shadow Copy store): the volume as it was
// when the copy was made.
struct SHADOWCOPY {
    unsigned nNumber = 0;   // from 1, in the order the volume's catalog keeps them
                            // (oldest first), as vshadowinfo numbers them
    uint64_t nCreated = 0;  // FILETIME, UTC
    std::unique_ptr<CVolume> pVolume;  // null when it cannot be read,
    std::string strError;              // and then why
};

// A place on a volume; a null volume for a drive the system does not have.
struct VOLUMEPATH {
    const CVolume* pVolume = nullptr;
    std::string strPath;
};

// An open file, read from its start to its end.
class CVolumeFile {
public:
    virtual ~CVolumeFile() = default;
    // Up to nSize bytes: the count read, 0 at the end, -1 when the file cannot be
    // read (a read that failed, or data that cannot be read right).
    virtual long Read(char* pBuffer, std::size_t nSize) = 0;
};

class CVolume {
public:
    virtual ~CVolume() = default;

    // The names a folder holds, without "." and "..", in the order a search
    // delivers them there; false when the path is no folder.
    virtual bool List(const std::string& strFolder, std::vector<VOLUMEENTRY>& aEntries) const = 0;
    // Whether the path names an entry.
    virtual bool Exists(const std::string& strPath) const = 0;
    // Opens a file for reading; null with *pdwError set (a Windows error code).
    virtual std::unique_ptr<CVolumeFile> Open(const std::string& strPath, uint32_t* pdwError) const = 0;
    // A readable descriptor of a whole file, for a library that opens files by name
    // (libhivex, through /proc/self/fd): the file itself, or a copy in memory that
    // leaves nothing behind; -1 with strError saying what the file is ("missing",
    // "not a file", "unreadable ...", TooLarge(nMaxSize)). A file larger than
    // nMaxSize bytes is refused before any of it is copied, and a copy stops as soon
    // as it would grow past nMaxSize, whatever size the file claimed.
    virtual int OpenDescriptor(const std::string& strPath, uint64_t nMaxSize, std::string& strError) const = 0;
    // The deleted files of a folder whose data can still be read, as its file
    // system keeps them; none on a host folder.
    virtual void ListDeleted(const std::string&, std::vector<DELETEDENTRY>& aEntries) const { aEntries.clear(); }
    // Opens one of them; null when its record now holds another file.
    virtual std::unique_ptr<CVolumeFile> OpenDeleted(uint64_t) const { return nullptr; }
    // The volume's shadow copies, oldest first; none on a host folder. strError
    // when the volume has some and they cannot be read at all.
    virtual std::vector<SHADOWCOPY> OpenShadowCopies(std::string&) const { return {}; }
    // The host files the volume is read from, which its libraries may open again
    // (an image's segments); none on a host folder.
    virtual void OwnFiles(std::vector<std::string>&) const {}
    // Whether files may be created and written here: host folders only.
    virtual bool IsWritable() const = 0;
    // A path of the volume's root as a message names it: a Windows path without
    // its drive ("Windows\\System32\\config\\SYSTEM").
    virtual std::string DisplayName(const std::string& strPath) const = 0;
};

// The folders of this host; the paths are host paths, relative ones relative to
// the current directory. A search delivers names in Wine's order.
const CVolume& HostVolume();

// Opens the Windows volume of a disk image (raw or split raw, E01, VMDK, VHD, VHDX,
// AFF; a whole disk with an MBR or GPT partition table, or a single volume; NTFS or
// FAT): the one volume holding Windows\System32\config\SOFTWARE, or the one that
// starts at strSector when that is not empty; strChosen is its start sector. Null
// with strError, one line naming the image, when there is no such single volume or
// the image cannot be read.
std::unique_ptr<CVolume> OpenImageVolume(const std::string& strImage, std::string_view strSector,
                                         std::string& strError, std::string& strChosen);

// A regular file of this host opened for reading: a FIFO, a device or a socket
// among the evidence is never read (a FIFO would hang the run, a device read the
// host's own data), and is ERROR_BAD_FILE_TYPE with nType saying what it is; a
// folder is ERROR_ACCESS_DENIED (EISDIR). Looked at before it is opened (opening a
// device can act on it), then opened without blocking and looked at again; a file
// outside a reader's folders (IsWithinRoots) is EACCES. -1 on failure, with errno.
int OpenHostRegularFile(const std::string& strPath, uint32_t* pdwError, mode_t& nType);

// The folders an image's other files (segments, extents, backing files) are looked
// for in: beside the path as the user named it, then, for a link, beside the file
// it leads to.
std::vector<std::string> FoldersBeside(const std::string& strImage);

// The files of an image by their names, which a reader may read: the image as
// named, and beside it (FoldersBeside) the regular files its name gives (split
// raw parts, E01 segments, VMDK extents), never links. Files the image names inside (a QCOW
// backing file) are handed over when asked for (OpenFileBeside).
std::vector<std::string> ImageFiles(const std::string& strImage);

// A regular file of this name beside the image, not a link (in FoldersBeside's
// order, the folder's index in nFolder), opened for reading; -1 with errno: EINVAL for a
// name that is no plain file name, ENOENT when there is none.
int OpenRegularBeside(const std::string& strImage, const std::string& strName, std::size_t& nFolder);

// A file the image names (a backing file), by its plain name, beside the image
// named: opened here, or, in a confined reader, by the writer and handed over.
// Its path in strPlace; -1 when there is none.
int OpenFileBeside(const std::string& strImage, const std::string& strName, std::string& strPlace);

// A path below a root ("/Windows/System32") as a Windows path without its drive.
std::string WindowsName(std::string_view strPath);

// What a file of this type (st_mode) is, for a message: "a FIFO", "a character
// device".
std::string DescribeFileType(unsigned nMode);

// What a file larger than nMaxSize bytes is, for a message: "larger than 2 GiB",
// or in bytes when the size is no whole number of GiB.
std::string TooLarge(uint64_t nMaxSize);

// Names that are the same but for the case of ASCII letters.
bool EqualNoCase(std::string_view strLeft, std::string_view strRight);

// The path of a relative Windows path ("a\\b") below the folder strRoot of a volume,
// each name found case-insensitively; a name that is not there is kept as written.
std::string FindNoCase(const CVolume& volume, const std::string& strRoot, std::string_view strRelative);
