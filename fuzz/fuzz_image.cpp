// Fuzz target: arbitrary bytes as a disk image (a raw volume, or a disk with a
// partition table), read as a run reads one: the Windows volume found, the hive
// handed to libhivex, the logs folder searched and each file in it read, and, as a
// recovering run reads them, the deleted files it still names and the logs folder
// of each shadow copy the volume keeps.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_sandbox.h"
#include "platform/posix/registry/hive_registry.h"
#include "platform/posix/volumes/image_layers.h"
#include "platform/posix/volumes/volume.h"

namespace {

// Reads each file of the logs folder, and its deleted files.
void ReadLogs(const CVolume& volume, bool bDeleted)
{
    const std::string strLogs =
        FindNoCase(volume, "", "ProgramData\\Corvessa\\Tarvel Corporate Edition\\7.6\\logs");
    std::vector<VOLUMEENTRY> aEntries;
    if (!volume.List(strLogs, aEntries))
        return;
    char achBuffer[4096];
    for (const VOLUMEENTRY& entry : aEntries) {
        uint32_t dwError = 0;
        if (auto pFile = volume.Open(strLogs + "/" + entry.strName, &dwError))
            while (pFile->Read(achBuffer, sizeof(achBuffer)) > 0) {
            }
    }
    std::vector<DELETEDENTRY> aDeleted;
    if (bDeleted)
        volume.ListDeleted(strLogs, aDeleted);
    for (const DELETEDENTRY& entry : aDeleted)
        if (auto pFile = volume.OpenDeleted(entry.nAddress))
            while (pFile->Read(achBuffer, sizeof(achBuffer)) > 0) {
            }
}

}  // namespace

// Every library an image may be read with, loaded before the process is confined.
extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    std::string strError;
    if (!LoadImageLibraries(true, strError))
        std::abort();
    ConfineFuzzTarget(pArgc, pArgv, {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    const int nFd = memfd_create("vh-fuzz-image", MFD_CLOEXEC);
    if (nFd < 0 || write(nFd, pData, nSize) != static_cast<ssize_t>(nSize)) {
        if (nFd >= 0)
            close(nFd);
        return 0;
    }
    std::string strError, strChosen;
    const std::unique_ptr<CVolume> pVolume =
        OpenImageVolume("/proc/self/fd/" + std::to_string(nFd), "", strError, strChosen);
    if (pVolume) {
        CHive hive;
        hive.Open(*pVolume, FindNoCase(*pVolume, "", "Windows\\System32\\config\\SOFTWARE"), strError);
        ReadLogs(*pVolume, true);
        for (const SHADOWCOPY& copy : pVolume->OpenShadowCopies(strError))
            if (copy.pVolume)
                ReadLogs(*copy.pVolume, false);
    }
    close(nFd);
    return 0;
}
