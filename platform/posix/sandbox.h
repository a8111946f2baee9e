// The confined reader: once a run has opened everything it reads from outside,
// what the process may still do. Evidence comes from compromised machines and is
// parsed by C libraries; a bug they still have must find no file, program or
// network to reach.
#pragma once

#include <string>
#include <vector>

// What the process may still touch, by path.
struct CONFINEMENT {
    std::vector<std::string> astrReadBeneath;  // folders read-only, with all beneath (a prefix, a drive)
    std::vector<std::string> astrReadFiles;    // files read-only (an image's own, which its library reopens)
    std::vector<std::string> astrWriteFiles;   // files written and cut back (VirusHist.csv, opened per row)
    // A fuzz harness's own needs beside the run's: folders it writes beneath (its
    // corpus, its work files), and the system calls libFuzzer makes.
    std::vector<std::string> astrWriteBeneath;
    std::vector<std::string> astrExtraCalls;
};

// What this kernel offers: its Landlock ABI (0 for none), and seccomp filters.
struct SANDBOXSUPPORT {
    int nLandlockAbi;
    bool bSeccomp;
};
SANDBOXSUPPORT SandboxSupport();
// "landlock ABI 7, seccomp", as --version says it.
std::string DescribeSandbox(const SANDBOXSUPPORT& support);

// What a denied system call gets: it fails with EPERM, and one line on standard
// error names it (a run goes on, and a test sees the line); or the process aborts
// (a fuzz target, where a finding that needs a denied call must show).
enum DeniedCall { kDeniedFails, kDeniedAborts };

// Confines the calling process for good: no new privileges; Landlock, with every
// right the kernel knows handled and only those of confinement granted (and no
// network, no signals or abstract sockets out where the kernel scopes them); then
// a seccomp allow-list of what reading and writing need. Denied above all:
// execve, sockets, ptrace and process_vm_*, new processes (threads may still be
// made), executable memory, bpf, mount, keyctl, modules and perf_event_open.
// A denied call's line begins with strLinePrefix. strMissing names what this
// kernel lacks (empty when nothing); false, with strError, when a step the kernel
// offers fails.
bool ConfineProcess(const CONFINEMENT& confinement, DeniedCall denied, const std::string& strLinePrefix,
                    std::string& strMissing, std::string& strError);
