// Fuzz target: arbitrary bytes as the SOFTWARE hive of a mounted system drive, read
// as a run reads it: the drive opened (its settings), then the product's key.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/posix/system.h"

namespace {

// A drive folder whose SYSTEM and DEFAULT hives are the seeds', made once.
std::string MakeDrive()
{
    char szTemplate[] = "/tmp/vh-fuzz-drive-XXXXXX";
    const std::string strDrive = mkdtemp(szTemplate);
    for (const char* szPart : {"/Windows", "/Windows/System32", "/Windows/System32/config"})
        mkdir((strDrive + szPart).c_str(), 0755);
    for (const char* szHive : {"SYSTEM", "DEFAULT"}) {
        std::ifstream in(std::string(VH_FUZZ_HIVES) + "/" + szHive, std::ios::binary);
        std::ofstream(strDrive + "/Windows/System32/config/" + szHive, std::ios::binary) << in.rdbuf();
    }
    return strDrive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    static const std::string strDrive = MakeDrive();
    {
        std::ofstream out(strDrive + "/Windows/System32/config/SOFTWARE", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(pData), static_cast<std::streamsize>(nSize));
    }
    const std::unique_ptr<CSystem> pSystem = CSystem::OpenDrive(strDrive);
    if (!pSystem->Error().empty())
        return 0;
    unsigned char abyData[256];
    uint32_t nCapacity = sizeof(abyData);
    const uint32_t dwStatus = pSystem->QueryMachineValue(
        "Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion", "Home Directory", abyData, &nCapacity);
    if (dwStatus == 0 && nCapacity > sizeof(abyData))
        std::abort();
    return 0;
}
