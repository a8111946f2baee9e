// The Linux command line's own options, --help and --version, each alone: a Linux
// user types them first, and they must not empty the history file.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/sandbox.h"
#include "version.h"

namespace {

constexpr const char* kHelp =
    "Usage: virushist [PATTERN]\n"
    "       virushist --help | --version\n"
    "\n"
    "Exports the virus history of the antivirus product installed on a Windows\n"
    "system, read from outside, to VirusHist.csv in the current folder: one row per\n"
    "virus event of its activity logs. PATTERN is a file name pattern for the logs in\n"
    "the product's logs folder (default *.log; with two or more arguments, *.log).\n"
    "--help and --version are options only when they stand alone; any other argument,\n"
    "one that begins with -- too, is the pattern.\n"
    "\n"
    "The Windows system read:\n"
    "  VIRUSHIST_SYSTEM_DRIVE  a Windows system drive mounted here (a folder) or a disk\n"
    "                          image (raw or split raw, E01, AFF, VMDK, VHD, VHDX,\n"
    "                          QCOW, QCOW2; a QCOW snapshot through its backing\n"
    "                          files, found beside it by their file names alone);\n"
    "                          wins over WINEPREFIX\n"
    "  VIRUSHIST_SYSTEM_VOLUME with an image of several Windows volumes, the one to read,\n"
    "                          by its start sector (exit 7 for a folder or a prefix)\n"
    "  WINEPREFIX              a Wine prefix (default ~/.wine)\n"
    "The product's key is read in the registry's 32-bit view first, where the\n"
    "product, a 32-bit program, keeps it (Software\\Wow6432Node of 64-bit Windows),\n"
    "then in the 64-bit view. On Windows, take virushist-<version>-win32.zip for a\n"
    "32-bit Windows (XP SP2 and later); either zip works on 64-bit Windows.\n"
    "Output:\n"
    "  VIRUSHIST_TIMELINE      also write a timeline to this file (a path of this host):\n"
    "                          JSON Lines, one record per log line, in UTC by the\n"
    "                          system's own time zone, for Timesketch; - is standard\n"
    "                          output\n"
    "  VIRUSHIST_RECOVER       deleted, shadows, or both (comma-joined): also the\n"
    "                          deleted logs a disk image still holds, and the logs of\n"
    "                          its shadow copies, into the timeline alone (needs\n"
    "                          VIRUSHIST_TIMELINE)\n"
    "  VIRUSHIST_SANDBOX       off: one process without the sandbox (for debugging);\n"
    "                          by default a child confined with Landlock and\n"
    "                          seccomp reads, and this process writes what it sends\n"
    "A variable set to the empty string counts as unset. Lines on standard error\n"
    "begin with \"virushist: \" and the system read.\n"
    "\n"
    "Exit status:\n"
    "  0  every row was written (there may be none)\n"
    "  1  the product is not installed; VirusHist.csv untouched\n"
    "  2  VirusHist.csv or the timeline could not be created, or another run is writing\n"
    "     it; one line says which and why; neither touched, no log read\n"
    "  3  the data folder could not be had; VirusHist.csv untouched\n"
    "  4  the run completed, but a row or record was lost (the timeline ends at its\n"
    "     last whole record), a log could not be read whole, or a shadow copy was\n"
    "     skipped\n"
    "  5  the pattern does not fit in a path; VirusHist.csv untouched\n"
    "  6  a row or timeline record was written in part and could not be cut back\n"
    "  7  the Windows system cannot be read (no prefix, an unreadable image, drive,\n"
    "     hive or setting), or VIRUSHIST_RECOVER cannot be met; one line on standard\n"
    "     error says why\n"
    "\n"
    "Examples:\n"
    "  WINEPREFIX=~/.wine virushist\n"
    "  VIRUSHIST_SYSTEM_DRIVE=/cases/pc1.E01 virushist\n"
    "  VIRUSHIST_SYSTEM_DRIVE=/cases/pc1.E01 VIRUSHIST_TIMELINE=pc1.jsonl virushist\n"
    "  VIRUSHIST_SYSTEM_DRIVE=/cases/pc1.E01 VIRUSHIST_TIMELINE=pc1.jsonl \\\n"
    "    VIRUSHIST_RECOVER=deleted,shadows virushist\n"
    "\n"
    "See virushist(1) for more.\n";

}  // namespace

namespace plat {

bool AnswerOption(int argc, char** argv)
{
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--help") == 0)
        std::fputs(kHelp, stdout);
    else if (std::strcmp(argv[1], "--version") == 0)
        std::printf("virushist %s\nsandbox: %s\n", VH_VERSION_STRING, DescribeSandbox(SandboxSupport()).c_str());
    else
        return false;
    std::fflush(stdout);
    return true;
}

}  // namespace plat
