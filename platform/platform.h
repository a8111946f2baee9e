// The one interface through which the portable code reaches the operating system.
// Implemented by platform/win32 (the real Win32 API), platform/posix (a Windows
// system read from outside: a Wine prefix, a mounted system drive or a disk image)
// and, for the unit tests, a scripted fake. Text crosses it in the system's ANSI
// code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/frames.h"
#include "platform/codes.h"

namespace plat {

struct File;  // an open file

// Windows' MAX_PATH: a path buffer of 260 bytes holds at most 259 characters.
constexpr std::size_t kMaxPath = 260;

// --- The system ------------------------------------------------------------------

// Opens the system the run reads: true on Windows, where it is the running one. The
// POSIX layer reads another system; when that cannot be read it writes a line on
// standard error naming the file and the reason, and returns false.
bool OpenSystem();

// The options a platform answers itself: on Linux "--help" and "--version", each
// as the only argument, printed to standard output. True when the command line was
// one of them, which the program answers alone, touching no file; always false on
// Windows, where every argument is the pattern.
bool AnswerOption(int argc, char** argv);

// A command-line argument in the system's ANSI code page. On Windows the runtime
// hands it over so; the POSIX layer converts it from this host's character set (its
// locale's, UTF-8 in the C or POSIX locale, as terminals send it). A character
// without a form in the code page becomes "?", as in Windows' own ANSI command line.
std::string ArgumentText(const char* szArgument);

// --- A run split into a confined reader and a writer -------------------------------

// The part of a run this process plays.
enum RunPart {
    kRunWhole,    // one process reads and writes: Windows, or VIRUSHIST_SANDBOX=off
    kRunReader,   // the confined child: reads the system, writes nothing, sends frames
    kRunWriter,   // the process the user started: parses nothing, writes what is sent
    kRunRefused,  // the split cannot be made (said on standard error); nothing touched
};

// Where the platform confines its reading (Linux, unless VIRUSHIST_SANDBOX=off),
// splits the run in two. Before the fork it reads none of the system: it finds
// the folders or image files reading may open (from the environment and a
// prefix's drive links), loads the libraries reading needs (those of shadow
// copies with bShadowCopies), and warms the C library's locale and converters
// (szPattern, the command line's pattern or null, converted now). The reader
// confines itself before it returns: no other descriptors, no capabilities, no
// new privileges, Landlock read-only beneath the system's folders, and a seccomp
// allow-list under which it can open nothing for writing. Windows: kRunWhole.
RunPart SplitRun(const char* szPattern, bool bShadowCopies);
// The reader's side: queues a frame for the writer. The queue goes out in large
// pieces, blocking while the writer is behind, and whole at FlushFrames.
void SendFrame(FrameType type, std::string_view strPayload);
void FlushFrames();
// Whether reading was refused something: a system call the sandbox denies, or a
// folder or file of the system that could not be opened for its type or for want
// of access (outside the system's folders). Each was said on standard error.
bool ReadingRefused();
// The writer's side: the bytes the reader sent: their count, 0 once it closed its
// end, -1 on failure.
long ReceiveFrames(char* pBuffer, std::size_t nSize);
// The writer's side: waits for the reader to end, ending it first with bEnd.
// Empty when it exited; else how it died ("killed by signal 11 (SIGSEGV)"), or
// that it lingered once its channel closed and was ended.
std::string WaitForReader(bool bEnd);

// The writer's side: the reader asks for a file its image names (a QCOW backing
// file), by its plain name: a regular file of that name beside the image is
// opened here and handed over, or none is said. False for a request no sound
// reader makes (no image read, or more than a chain of backing files holds).
bool HandOverFile(std::string_view strName);

// One line on standard error, without its line end; in a split run's reader the
// line is handed to the writer, which writes it. A progress line shown is cleared
// first.
void WriteErrorLine(const std::string& strLine);

// --- What a person at a terminal sees ------------------------------------------------

// Whether standard error (with bOutput, standard output) is a terminal: on Windows
// a console. Asked by the process the user started, before the run splits.
bool IsTerminal(bool bOutput);
// Milliseconds of a clock that only goes forward, from a start of its own.
long long Milliseconds();
// Shows one line of progress on standard error, a terminal: from the start of
// the line, cut to the terminal's width, with no line end, so that the next
// replaces it; empty clears the line shown (and writes nothing when none is).
void ShowProgress(const std::string& strLine);

// --- User, version, system directory -------------------------------------------

// GetUserNameA: fills szName (capacity *pnSize) with a zero-terminated logon name.
bool QueryUserName(char* szName, uint32_t* pnSize);

// GetVersionExA: the platform id and the major version; false when the query fails.
bool QueryVersion(uint32_t* pdwPlatformId, uint32_t* pdwMajorVersion);

// GetSystemDirectoryA: the path's length, or 0 on failure (LastError tells why).
uint32_t QuerySystemDirectory(char* szPath, uint32_t nSize);

// GetLastError of the calling thread.
uint32_t LastError();

// The lead bytes of the system's ANSI code page: abLead[b] when byte b opens a
// two-byte character; bAny when the code page has any.
struct LeadByteTable {
    bool abLead[256];
    bool bAny;
};
const LeadByteTable& LeadBytes();

// --- Registry ------------------------------------------------------------------

// RegOpenKeyExA (HKEY_LOCAL_MACHINE, KEY_READ | dwView), RegQueryValueExA,
// RegCloseKey. dwView is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY: on 64-bit Windows
// the registry view the key is opened in (the 32-bit view keeps a 32-bit program's
// HKLM\Software keys, seen from outside as Software\Wow6432Node); the caller passes
// a view only where the system is 64-bit. On entry *pnSize is the capacity of
// pData; on success it is the number of bytes copied. Returns the registry status:
// 0, or the code of the first call that failed (ERROR_MORE_DATA, 234, when the
// value exceeds the capacity).
uint32_t QueryMachineValue(const char* szSubKey, const char* szValue, unsigned char* pData,
                           uint32_t* pnSize, uint32_t dwView = 0);

// Whether this process is a 64-bit program of the system it reads. On Windows the
// executable's own width; the POSIX layer reads a system as that system's own
// 64-bit programs would, so it says whether the system is 64-bit Windows (a prefix
// of arch win64; a drive whose SOFTWARE hive has a Wow6432Node key).
bool IsProcess64Bit();

// IsWow64Process for this process, looked up at run time: Windows 2000 and XP
// before SP2 lack it. The POSIX layer answers kWow64No.
enum Wow64Answer { kWow64Missing, kWow64No, kWow64Yes };
Wow64Answer QueryWow64Process();

// --- Shell folders, loaded at run time -------------------------------------------

struct Library;     // an opaque loaded module
struct FolderProc;  // an opaque SHGetFolderPathA

Library* OpenLibrary(const char* szPath);  // LoadLibraryA; null on failure
FolderProc* FindFolderPathProc(Library* pLibrary, const char* szName);  // GetProcAddress
void CloseLibrary(Library* pLibrary);      // FreeLibrary

// SHGetFolderPathA(null window, nFolder, null token, flags 0, szPath[260]): an HRESULT.
int32_t CallFolderPathProc(FolderProc* pProc, int32_t nFolder, char* szPath);

// --- File search -----------------------------------------------------------------

struct FindData {
    uint32_t dwFileAttributes;
    char cFileName[kMaxPath];
};

struct Search;  // an open search

// FindFirstFileA with the platform's wildcard rules; null when nothing matches.
Search* FindFirst(const char* szPattern, FindData* pData);
bool FindNext(Search* pSearch, FindData* pData);  // FindNextFileA
void CloseSearch(Search* pSearch);

// --- Resources ---------------------------------------------------------------------

// LoadStringA from the executable's string table: the text of nID; false when the
// table has none. The POSIX layer has the same table, generated from the same
// resource file.
bool LoadStringResource(uint32_t nID, std::string& strText);

// --- Messages and dates --------------------------------------------------------------

// MessageBoxA(no owner, text, caption, MB_OK).
void ShowMessage(const char* szText, const char* szCaption);

// The date alone in the system default locale's short form (GetDateFormatA with
// LOCALE_SYSTEM_DEFAULT and DATE_SHORTDATE). Leaves strText empty for a date the
// platform rejects.
void FormatShortDate(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                     std::string& strText);

// --- Time and text for the timeline ------------------------------------------------

// The system's time zone, by its Windows key name in UTF-8 ("Pacific Standard
// Time"); empty when the system keeps none.
std::string TimeZoneName();

// The UTC of one of the system's local times, by its time zone's rule for that
// year, as TzSpecificLocalTimeToSystemTimeEx converts it; a system without a time
// zone gives the local time itself. False when the zone's rule cannot convert it.
bool LocalTimeToUtc(const DATETIME& local, DATETIME& utc);

// Text of the system's ANSI code page in UTF-8, as MultiByteToWideChar reads it.
std::string TextToUtf8(std::string_view strText);

// The system the run reads, in UTF-8: the prefix, the drive folder or the image
// file on Linux, the computer's name on Windows; and an image's Windows volume by
// its start sector (empty for any other system).
std::string SystemName();
std::string SystemVolume();

// --- History the live volume no longer shows ---------------------------------------

// A deleted file found in a folder of a disk image: its name in the code page (on
// FAT with "?" for its lost first letter), and where its record is.
struct DeletedFile {
    std::string strName;
    uint64_t nAddress;
};

// Whether the system read keeps history to recover (deleted files, shadow copies):
// a disk image does; false with strWhy, one line, for any other system.
bool CanRecoverHistory(std::string& strWhy);
// The deleted files of the folder of szSearch ("folder\pattern") whose names match
// its pattern, a lost first letter matching any, in the order the folder holds them.
void FindDeleted(const char* szSearch, std::vector<DeletedFile>& aFiles);
// Opens one of them for reading; null when its data cannot be read (its record
// now holds another file, or it cannot be read as Windows would).
File* OpenDeleted(const DeletedFile& file);

// A shadow copy (Volume Shadow Copy store) of the image's Windows volume: its
// number, from 1 for the oldest, as vshadowinfo counts them, and when it was made.
struct ShadowCopy {
    unsigned nNumber;
    DATETIME created;  // UTC
};

// The shadow copies of the image's Windows volume that can be read, newest first;
// one line each in astrSkipped, naming it and why, for those that cannot.
void FindShadowCopies(std::vector<ShadowCopy>& aCopies, std::vector<std::string>& astrSkipped);
// Where the file functions read drive C: from now on: 0 the live volume (as at the
// start), else the shadow copy of that number, one FindShadowCopies gave. A file
// already open stays open where it was.
void ReadShadowCopy(unsigned nNumber);

// --- Files -----------------------------------------------------------------------------

struct File;  // an open file

// Opens an existing file for reading (shared with writers); null on failure.
File* OpenForRead(const char* szPath);
// Reads up to nSize bytes: the count read, 0 at the end of the file, -1 on failure.
long ReadBytes(File* pFile, char* pBuffer, std::size_t nSize);

// Creates the file, or truncates it to zero length when it exists; null on failure.
File* CreateForWrite(const char* szPath);
// Opens a file for writing, creating it when missing and leaving what it holds,
// and holds it until it is closed, so that another run of this program cannot
// hold it meanwhile (a named mutex of its full path on Windows; flock on POSIX);
// the run's own other opens of the file are not hindered. Null on failure, with
// *pbHeld true when the failure is that another run holds it. *pbCreated says
// whether this open created the file. szPath is a path of the system, or with
// bNamed a path the user named (an environment variable's value): on Windows a
// path as CreateFileA takes it, on POSIX a path of this host as given, relative to
// the current directory.
File* OpenHeld(const char* szPath, bool bNamed, bool* pbHeld, bool* pbCreated);
// Removes a file (a path as OpenHeld takes it): one that a run created and then
// could not use.
bool RemoveFile(const char* szPath, bool bNamed);
// The process's standard output, for writing in binary (LF stays LF on Windows).
// A write to it that fails (a closed pipe) fails as any write does; it never ends
// the process.
File* OpenStandardOutput();
// Whether the file is one whose length can be cut back: a file on disk, not a
// pipe, a terminal or a device.
bool IsDiskFile(File* pFile);
// Why the last call that failed failed, in the system's words (strerror on POSIX,
// FormatMessage on Windows), in UTF-8.
std::string LastErrorText();
// Opens the file for appending, creating it when missing; null on failure.
File* OpenForAppend(const char* szPath);
// The file's length in bytes, or -1 on failure.
long long FileSize(File* pFile);
// Appends nSize bytes at the end of the file: the count written, -1 on failure.
long long AppendFile(File* pFile, const char* pData, std::size_t nSize);
// Cuts the file back to nSize bytes.
bool TruncateFile(File* pFile, long long nSize);
void CloseFile(File* pFile);

}  // namespace plat
