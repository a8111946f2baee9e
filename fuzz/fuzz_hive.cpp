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

#include "fuzz/fuzz_sandbox.h"
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

const std::string& Drive()
{
    static const std::string strDrive = MakeDrive();
    return strDrive;
}

}  // namespace

// A drive opened once before the process is confined loads what reading its hives
// needs (the code page's converters), and keeps it loaded.
extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    static std::unique_ptr<CSystem> pWarm;
    std::ifstream in(std::string(VH_FUZZ_HIVES) + "/../corpus/hive/software", std::ios::binary);
    std::ofstream(Drive() + "/Windows/System32/config/SOFTWARE", std::ios::binary) << in.rdbuf();
    pWarm = CSystem::OpenDrive(Drive());
    ConfineFuzzTarget(pArgc, pArgv, {Drive()});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    const std::string& strDrive = Drive();
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
