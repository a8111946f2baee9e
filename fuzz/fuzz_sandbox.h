// The fuzz targets that parse evidence read their input inside the reader's
// sandbox, confined once per process from LLVMFuzzerInitialize (so that
// libFuzzer's own threads, made after it, are confined too), with denied calls
// aborting: a finding that needs a call the reader's sandbox denies shows as a
// crash, not a pass. libFuzzer keeps what it needs: its corpus and artifacts
// beneath the current folder and /tmp (so its opens may write there), and its own
// few system calls. The sanitizer's symbolizer is started before, so that a
// finding still prints a symbolized stack.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/sandbox.h"

// argc and argv are libFuzzer's: a merge (-merge=1) runs the target's own program
// over the corpus, which a confined process cannot start, and is left unconfined.
inline void ConfineFuzzTarget(int* pArgc, char*** pArgv, const std::vector<std::string>& astrReadBeneath)
{
    for (int i = 1; i < *pArgc; ++i)
        if (std::string((*pArgv)[i]).rfind("-merge", 0) == 0)
            return;
    WarmSymbolizer();
    CONFINEMENT confinement;
    confinement.astrReadBeneath = astrReadBeneath;
    confinement.astrReadBeneath.push_back("/proc/self");  // the sanitizers' view of the process
    confinement.astrWriteBeneath = {".", "/tmp"};
    confinement.astrExtraCalls = {"getrusage", "unlink", "unlinkat", "mkdir", "mkdirat", "rename", "renameat",
                                  "setitimer", "memfd_create", "ftruncate", "fsync"};
    std::string strMissing, strError;
    if (!ConfineProcess(confinement, kDeniedAborts, "fuzz target: ", strMissing, strError)) {
        std::fprintf(stderr, "fuzz target: %s\n", strError.c_str());
        std::abort();
    }
    if (!strMissing.empty())
        std::fprintf(stderr, "fuzz target: this kernel has no %s\n", strMissing.c_str());
}
