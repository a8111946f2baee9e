// The confined reader: what a process that parses evidence may still do.
// Evidence comes from compromised machines and is parsed by C libraries; a bug
// they still have must find no file to write, no program, no network and no
// privilege to reach.
#pragma once

#include <string>
#include <vector>

// What the process may still touch, by path.
struct CONFINEMENT {
    std::vector<std::string> astrReadBeneath;  // folders read-only, with all beneath (a prefix, a drive)
    std::vector<std::string> astrReadFiles;    // files read-only
    // A fuzz harness's own needs beside the reader's: folders it writes beneath
    // (its corpus, its work files), and the system calls libFuzzer makes. With no
    // folder to write, no open may carry a write, create or truncate flag.
    std::vector<std::string> astrWriteBeneath;
    std::vector<std::string> astrExtraCalls;
    // A socket descriptors are received on (a reader's broker), or -1.
    int nReceiveFd = -1;
    // Tests only: confine as on a kernel without Landlock.
    bool bWithoutLandlock = false;
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

// Where a reader keeps its channel to the writer, and the socket on which the
// writer hands it the files an image names (its broker), when it has one.
constexpr int kReaderChannel = 3;
constexpr int kReaderBroker = 4;

// Confines a split run's reader, a child just forked, before it reads any
// evidence: it moves its channel and broker socket (nBroker -1 for none) to
// their numbers first (the arguments say where they are, also when a later step
// fails); makes standard input, output and error /dev/null (a sanitizer keeps its
// standard error for reports), so that its lines and refused calls reach the
// terminal only as frames the writer writes; keeps no other descriptor; dies with
// its parent; checks it is the only thread; limits its memory and file size, with
// no core dump; drops every capability; then ConfineProcess, read-only. False
// with strError when a step fails.
bool ConfineReader(const CONFINEMENT& confinement, int& nChannel, int& nBroker, const std::string& strLinePrefix,
                   std::string& strMissing, std::string& strError);

// Whether a call was refused since the process was confined.
bool SandboxRefused();
// Whether the paths this process may open are confined: by Landlock, or, on a
// kernel without it, by the check below.
bool PathsConfined();
// Whether an open descriptor's file lies beneath the folders the process was
// confined to, every link followed: always where Landlock confines it, or nothing
// does. Without Landlock the host folder's reads check each file and folder they
// open, so that no link leads a reader out of the system's folders.
bool IsWithinRoots(int nFd);

// Whether a sanitizer's run-time is in the process (by the compiler's macros, or
// its interface for UBSan under GCC, which defines none). It needs a little more
// of the kernel: threads that trace, /proc/self, pipes and forks.
bool HasSanitizerRuntime();
// A sanitizer's symbolizer started now, while programs may still be run, and
// SIGPIPE ignored, so that a report made once confined is symbolized, or at worst
// printed unsymbolized, never cut short.
void WarmSymbolizer();
