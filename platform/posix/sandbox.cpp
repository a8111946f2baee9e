// The confined reader on Linux: no new privileges, Landlock, then a seccomp
// allow-list (libseccomp). What the process may still do after ConfineProcess is
// all in this file.
#include "platform/posix/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/frames.h"

namespace {

// Landlock beyond what Debian 12's kernel headers name (ABI 1 and 2).
constexpr uint64_t kFsTruncate = 1ULL << 14;            // ABI 3
constexpr uint64_t kFsIoctlDev = 1ULL << 15;            // ABI 5
constexpr uint64_t kNetBindTcp = 1ULL << 0;             // ABI 4
constexpr uint64_t kNetConnectTcp = 1ULL << 1;          // ABI 4
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr uint64_t kScopeSignal = 1ULL << 1;              // ABI 6

// landlock_ruleset_attr as ABI 6 has it; older kernels take a prefix of it.
struct RULESETATTR {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;
    uint64_t scoped;
};

bool g_bPathsConfined = false;
// Without Landlock, the folders (with every link followed) a file read must lie
// beneath; empty when Landlock confines the paths, or nothing does.
std::vector<std::string> g_astrRoots;

constexpr uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t kReadDir = LANDLOCK_ACCESS_FS_READ_DIR;
constexpr uint64_t kWriteFile = LANDLOCK_ACCESS_FS_WRITE_FILE;

int LandlockAbi()
{
    const long nAbi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return nAbi > 0 ? static_cast<int>(nAbi) : 0;
}

// Every file system right the kernel of that ABI knows.
uint64_t HandledFs(int nAbi)
{
    uint64_t nRights = (1ULL << 13) - 1;  // ABI 1: execute to make_sym
    if (nAbi >= 2)
        nRights |= LANDLOCK_ACCESS_FS_REFER;
    if (nAbi >= 3)
        nRights |= kFsTruncate;
    if (nAbi >= 5)
        nRights |= kFsIoctlDev;
    return nRights;
}

// Grants nAccess beneath a path (a file or a folder); a path that is gone is left
// out, as nothing can be read there.
bool AddPathRule(int nRuleset, const std::string& strPath, uint64_t nAccess, std::string& strError)
{
    const int nFd = open(strPath.c_str(), O_PATH | O_CLOEXEC);
    if (nFd < 0)
        return true;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = nAccess;
    rule.parent_fd = nFd;
    const bool bAdded = syscall(SYS_landlock_add_rule, nRuleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
    if (!bAdded)
        strError = "Landlock refuses a rule for " + strPath + ": " + std::strerror(errno);
    close(nFd);
    return bAdded;
}

bool RestrictWithLandlock(const CONFINEMENT& confinement, int nAbi, std::string& strError)
{
    RULESETATTR attr{};
    attr.handled_access_fs = HandledFs(nAbi);
    std::size_t nSize = sizeof(attr.handled_access_fs);
    if (nAbi >= 4) {
        attr.handled_access_net = kNetBindTcp | kNetConnectTcp;
        nSize += sizeof(attr.handled_access_net);
    }
    if (nAbi >= 6) {
        attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        nSize += sizeof(attr.scoped);
    }
    const int nRuleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, nSize, 0));
    if (nRuleset < 0) {
        strError = std::string("Landlock cannot make a ruleset: ") + std::strerror(errno);
        return false;
    }
    const uint64_t nWrite = kWriteFile | (nAbi >= 3 ? kFsTruncate : 0);
    bool bDone = true;
    for (const std::string& strFolder : confinement.astrReadBeneath)
        bDone = bDone && AddPathRule(nRuleset, strFolder, kReadFile | kReadDir, strError);
    // A file alone may be a device (an image that is a disk): its size asked too.
    for (const std::string& strFile : confinement.astrReadFiles)
        bDone = bDone && AddPathRule(nRuleset, strFile, kReadFile | (nAbi >= 5 ? kFsIoctlDev : 0), strError);
    const uint64_t nWriteBeneath = kReadFile | kReadDir | nWrite | LANDLOCK_ACCESS_FS_MAKE_REG |
                                   LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE;
    for (const std::string& strFolder : confinement.astrWriteBeneath)
        bDone = bDone && AddPathRule(nRuleset, strFolder, nWriteBeneath, strError);
    if (bDone && syscall(SYS_landlock_restrict_self, nRuleset, 0) != 0) {
        strError = std::string("Landlock cannot confine the process: ") + std::strerror(errno);
        bDone = false;
    }
    g_bPathsConfined = bDone;
    close(nRuleset);
    return bDone;
}

// A denied call: its line on standard error (a reader's: a line frame on its
// channel, which the writer writes as text), then EPERM or an abort.
DeniedCall g_denied = kDeniedFails;
pid_t g_nConfinedProcess = 0;
volatile sig_atomic_t g_bRefused = 0;
int g_nLineFd = STDERR_FILENO;
bool g_bLineFramed = false;
char g_szDeniedLine[512];  // "...: the sandbox refused system call "

void OnDeniedCall(int, siginfo_t* pInfo, void* pContext)
{
    // The whole line in one write: a frame is never split by another.
    char szLine[kFrameHeaderSize + sizeof(g_szDeniedLine) + 24];
    std::size_t nLength = g_bLineFramed ? kFrameHeaderSize : 0;
    for (const char* p = g_szDeniedLine; *p != '\0'; ++p)
        szLine[nLength++] = *p;
    char szNumber[24];
    int nDigits = 0;
    unsigned nCall = static_cast<unsigned>(pInfo->si_syscall);
    do {
        szNumber[nDigits++] = static_cast<char>('0' + nCall % 10);
        nCall /= 10;
    } while (nCall != 0 && nDigits < 20);
    while (nDigits > 0)
        szLine[nLength++] = szNumber[--nDigits];
    if (g_bLineFramed) {
        const std::size_t nPayload = nLength - kFrameHeaderSize;
        szLine[0] = static_cast<char>(kFrameLine);
        for (int i = 0; i < 4; ++i)
            szLine[1 + i] = static_cast<char>(nPayload >> (8 * i) & 0xFF);
    } else {
        szLine[nLength++] = '\n';
    }
    const ssize_t nIgnored = write(g_nLineFd, szLine, nLength);
    (void)nIgnored;
    g_bRefused = 1;
    // A child (the sanitizers' symbolizer, in test builds) is not the process
    // under test: its call fails.
    if (g_denied == kDeniedAborts && getpid() == g_nConfinedProcess)
        std::abort();
    ucontext_t* pUser = static_cast<ucontext_t*>(pContext);
#if defined(__x86_64__)
    pUser->uc_mcontext.gregs[REG_RAX] = -EPERM;
#elif defined(__aarch64__)
    pUser->uc_mcontext.regs[0] = static_cast<uint64_t>(-EPERM);
#else
    (void)pUser;
    std::abort();
#endif
}

// What reading the evidence and handing it on need, by name (a name this
// architecture lacks is left out).
const char* const kAllowed[] = {
    // Files already open, and those the confinement lets open.
    "read", "readv", "pread64", "preadv", "preadv2", "write", "writev", "close",
    "fstat", "stat", "lstat", "newfstatat", "statx", "lseek", "getdents", "getdents64", "readlink",
    "readlinkat", "fadvise64", "access", "faccessat", "faccessat2", "getcwd", "dup", "dup2", "dup3",
    // A hive read from an image is a copy in memory, which libhivex opens by name.
    "memfd_create",
    // Memory (mmap and mprotect below, without PROT_EXEC).
    "munmap", "mremap", "brk", "madvise",
    // Signals, threads, time and the process's own facts.
    "rt_sigaction", "rt_sigprocmask", "rt_sigreturn", "sigaltstack", "futex", "set_robust_list",
    "set_tid_address", "rseq", "restart_syscall", "sched_yield", "sched_getaffinity", "getpid", "gettid",
    "getuid", "geteuid", "getgid", "getegid", "getgroups", "clock_gettime", "clock_getres", "gettimeofday", "time",
    "nanosleep", "clock_nanosleep", "getrandom", "getrlimit", "uname", "sysinfo",
    "exit", "exit_group",
};

// A sanitizer's run-time checks leaks at exit by stopping the process's threads
// from a clone that traces them, reading /proc/self, probes memory through a
// pipe, and forks to symbolize a report (whose program is then refused).
const char* const kSanitizerAllowed[] = {"clone", "ptrace", "wait4", "waitid", "prctl", "kill", "tgkill",
                                         "getppid", "sched_setaffinity", "mincore", "pipe", "pipe2",
                                         "fork"};

// The fcntl commands reading needs: descriptor flags, duplicates, status flags.
// Not F_SETOWN or F_SETSIG, which would aim a signal at another process.
const int kFcntlAllowed[] = {F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_DUPFD, F_DUPFD_CLOEXEC};

bool AllowByName(scmp_filter_ctx hFilter, const char* szName, unsigned nArgs = 0,
                 const scmp_arg_cmp* pArgs = nullptr)
{
    const int nCall = seccomp_syscall_resolve_name(szName);
    return nCall == __NR_SCMP_ERROR || seccomp_rule_add_array(hFilter, SCMP_ACT_ALLOW, nCall, nArgs, pArgs) == 0;
}

bool RestrictWithSeccomp(const CONFINEMENT& confinement, std::string& strError)
{
    scmp_filter_ctx hFilter = seccomp_init(SCMP_ACT_TRAP);
    if (hFilter == nullptr) {
        strError = "libseccomp cannot make a filter";
        return false;
    }
    // A binary tree of the calls, the ones a row and a read make first: the filter
    // runs on every call, and a row is an open, a write and a close.
    // Both where this libseccomp and kernel have them. Without the second the kernel
    // turns on its speculative store bypass mitigation for a filtered process, which
    // slows every load and store: a defence against side channels between processes,
    // where the reader has no secret of its own.
    seccomp_attr_set(hFilter, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    seccomp_attr_set(hFilter, SCMP_FLTATR_CTL_SSB, 1);
    bool bDone = true;
    for (const char* szName : {"openat", "write", "close", "read", "fstat", "lseek", "newfstatat"})
        if (const int nCall = seccomp_syscall_resolve_name(szName); nCall != __NR_SCMP_ERROR)
            bDone = bDone && seccomp_syscall_priority(hFilter, nCall, 255) == 0;
    for (const char* szName : kAllowed)
        bDone = bDone && AllowByName(hFilter, szName);
    for (const std::string& strName : confinement.astrExtraCalls)
        bDone = bDone && AllowByName(hFilter, strName.c_str());
    // Files opened to read alone, where nothing may be written: so even without
    // Landlock (or before its ABI 3, which first controls truncation) nothing is
    // written, created or truncated.
    // An open that would write fails with EACCES, as Landlock fails it: image
    // libraries try a read-write open first and go on with a read-only one.
    if (confinement.astrWriteBeneath.empty()) {
        const scmp_datum_t nWriting = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
        for (const auto& [szName, nArg] : {std::pair{"openat", 1u}, std::pair{"open", 0u}}) {
            const int nCall = seccomp_syscall_resolve_name(szName);
            if (nCall == __NR_SCMP_ERROR)
                continue;
            const scmp_arg_cmp reads = {nArg + 1, SCMP_CMP_MASKED_EQ, nWriting, 0};
            bDone = bDone && seccomp_rule_add_array(hFilter, SCMP_ACT_ALLOW, nCall, 1, &reads) == 0;
            for (const scmp_datum_t nFlag : {scmp_datum_t{O_WRONLY}, scmp_datum_t{O_RDWR}, scmp_datum_t{O_CREAT},
                                             scmp_datum_t{O_TRUNC}, scmp_datum_t{O_APPEND}}) {
                const scmp_arg_cmp writes = {nArg + 1, SCMP_CMP_MASKED_EQ, nFlag, nFlag};
                bDone = bDone && seccomp_rule_add_array(hFilter, SCMP_ACT_ERRNO(EACCES), nCall, 1, &writes) == 0;
            }
        }
    } else {
        for (const char* szName : {"open", "openat", "flock", "ftruncate", "fsync", "fdatasync", "pwrite64"})
            bDone = bDone && AllowByName(hFilter, szName);
    }
    // Descriptors handed over on the broker's socket, and nothing else received.
    if (confinement.nReceiveFd >= 0) {
        const scmp_arg_cmp broker = SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(confinement.nReceiveFd));
        bDone = bDone && AllowByName(hFilter, "recvmsg", 1, &broker);
    }
    // Limits of the process itself alone, and the fcntl commands reading needs.
    const scmp_arg_cmp ownLimits = SCMP_A0(SCMP_CMP_EQ, 0);
    bDone = bDone && AllowByName(hFilter, "prlimit64", 1, &ownLimits);
    for (const int nCommand : kFcntlAllowed) {
        const scmp_arg_cmp command = SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(nCommand));
        bDone = bDone && AllowByName(hFilter, "fcntl", 1, &command);
    }
    // Memory, never executable: no code is loaded once the process is confined.
    const scmp_arg_cmp notExecutable = SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0);
    bDone = bDone && AllowByName(hFilter, "mmap", 1, &notExecutable) &&
            AllowByName(hFilter, "mprotect", 1, &notExecutable);
    // isatty's question, a disk's size and sector size (an image that is a block
    // device), and signals to the process itself (abort).
    const unsigned long anRequests[] = {TCGETS, BLKGETSIZE64, BLKGETSIZE, BLKSSZGET};
    for (const unsigned long nRequest : anRequests) {
        // The kernel reads the request as 32 bits; a caller may have widened it with its sign.
        const scmp_arg_cmp request = SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, nRequest);
        bDone = bDone && AllowByName(hFilter, "ioctl", 1, &request);
    }
    const scmp_arg_cmp self = SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(getpid()));
    bDone = bDone && AllowByName(hFilter, "tgkill", 1, &self);
    if (HasSanitizerRuntime()) {
        for (const char* szName : kSanitizerAllowed)
            bDone = bDone && AllowByName(hFilter, szName);
    } else {
        // Threads, but no process.
        const scmp_arg_cmp thread = SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD);
        bDone = bDone && AllowByName(hFilter, "clone", 1, &thread);
    }
    // clone3's flags are out of the filter's reach: ENOSYS sends the C library
    // back to clone.
    const int nClone3 = seccomp_syscall_resolve_name("clone3");
    bDone = bDone && (nClone3 == __NR_SCMP_ERROR ||
                      seccomp_rule_add(hFilter, SCMP_ACT_ERRNO(ENOSYS), nClone3, 0) == 0);
    if (!bDone)
        strError = "libseccomp cannot add a rule";
    else if (const int nError = seccomp_load(hFilter); nError != 0)
        strError = std::string("the seccomp filter cannot be loaded: ") + std::strerror(-nError), bDone = false;
    seccomp_release(hFilter);
    return bDone;
}

}  // namespace

SANDBOXSUPPORT SandboxSupport()
{
    SANDBOXSUPPORT support{};
    support.nLandlockAbi = LandlockAbi();
    // Filters whose denied calls trap, which the kernel says it can act on.
    const uint32_t nTrap = SECCOMP_RET_TRAP;
    support.bSeccomp = syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &nTrap) == 0;
    return support;
}

std::string DescribeSandbox(const SANDBOXSUPPORT& support)
{
    std::string strText = support.nLandlockAbi > 0 ? "landlock ABI " + std::to_string(support.nLandlockAbi)
                                                   : std::string("no landlock");
    return strText + (support.bSeccomp ? ", seccomp" : ", no seccomp");
}

bool ConfineProcess(const CONFINEMENT& confinement, DeniedCall denied, const std::string& strLinePrefix,
                    std::string& strMissing, std::string& strError)
{
    strMissing.clear();
    const SANDBOXSUPPORT support = SandboxSupport();
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        strError = std::string("no new privileges cannot be set: ") + std::strerror(errno);
        return false;
    }
    if (support.nLandlockAbi == 0 || confinement.bWithoutLandlock) {
        strMissing = "Landlock";
        // Then each file a reader opens beneath the system's folders is checked to
        // lie there still, once every link is followed.
        for (const std::string& strFolder : confinement.astrReadBeneath)
            if (char* szReal = realpath(strFolder.c_str(), nullptr)) {
                g_astrRoots.push_back(szReal);
                std::free(szReal);
            }
    }
    else if (!RestrictWithLandlock(confinement, support.nLandlockAbi, strError))
        return false;
    if (!support.bSeccomp) {
        strMissing += strMissing.empty() ? "seccomp" : " and seccomp";
        return true;
    }
    g_denied = denied;
    g_nConfinedProcess = getpid();
    std::snprintf(g_szDeniedLine, sizeof(g_szDeniedLine), "%sthe sandbox refused system call ",
                  strLinePrefix.c_str());
    struct sigaction action {};
    action.sa_sigaction = OnDeniedCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSYS, &action, nullptr) != 0) {
        strError = std::string("the sandbox's signal cannot be caught: ") + std::strerror(errno);
        return false;
    }
    return RestrictWithSeccomp(confinement, strError);
}

namespace {

// Every capability gone, from the bounding and ambient sets too, so that a root
// reader is an ordinary process: it reads only what its user may.
bool DropCapabilities(std::string& strError)
{
    for (unsigned long nCap = 0; nCap <= 63; ++nCap)
        if (prctl(PR_CAPBSET_DROP, nCap, 0, 0, 0) != 0 && errno == EINVAL)
            break;
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct aData[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, aData) != 0) {
        strError = std::string("capabilities cannot be dropped: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// How many threads the process has.
int CountThreads()
{
    int nThreads = 0;
    if (DIR* pTasks = opendir("/proc/self/task")) {
        while (const dirent* pEntry = readdir(pTasks))
            nThreads += pEntry->d_name[0] != '.';
        closedir(pTasks);
    }
    return nThreads;
}

// Limits no real system's run meets, so that evidence cannot take the machine's
// memory or fill a file: the address space (the data size under a sanitizer, which
// reserves terabytes of it) at what the process holds now plus kMemoryBudget; a
// file (a hive's copy in memory is one) at kMaxFile, failing with EFBIG rather
// than a signal; and no core file, nor any dump of the process at all.
constexpr uint64_t kMemoryBudget = 4ULL << 30;
constexpr uint64_t kMaxFile = 2ULL << 30;  // the largest hive a reader copies

// A "Vm...:" figure of /proc/self/status, in bytes; 0 when it cannot be read.
uint64_t OwnMemory(const char* szField)
{
    uint64_t nKiB = 0;
    if (FILE* pStatus = std::fopen("/proc/self/status", "re")) {
        char szLine[256];
        const std::size_t nField = std::strlen(szField);
        while (std::fgets(szLine, sizeof(szLine), pStatus) != nullptr)
            if (std::strncmp(szLine, szField, nField) == 0)
                nKiB = std::strtoull(szLine + nField, nullptr, 10);
        std::fclose(pStatus);
    }
    return nKiB << 10;
}

// Lowers a limit to nMost, never raising one the process inherited lower.
bool LowerLimit(int nResource, uint64_t nMost)
{
    rlimit limit{};
    if (getrlimit(nResource, &limit) != 0)
        return false;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, nMost);
    limit.rlim_max = std::min<rlim_t>(limit.rlim_max, nMost);
    return setrlimit(nResource, &limit) == 0;
}

bool LimitReader(std::string& strError)
{
    const bool bSanitizer = HasSanitizerRuntime();
    const uint64_t nHeld = OwnMemory(bSanitizer ? "VmData:" : "VmSize:");
    signal(SIGXFSZ, SIG_IGN);
    if (nHeld == 0 || !LowerLimit(bSanitizer ? RLIMIT_DATA : RLIMIT_AS, nHeld + kMemoryBudget) ||
        !LowerLimit(RLIMIT_FSIZE, kMaxFile) || !LowerLimit(RLIMIT_CORE, 0) || prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        strError = std::string("the reader's limits cannot be set: ") + std::strerror(nHeld == 0 ? ENOENT : errno);
        return false;
    }
    return true;
}

}  // namespace

bool ConfineReader(const CONFINEMENT& confinement, int& nChannel, int& nBroker, const std::string& strLinePrefix,
                   std::string& strMissing, std::string& strError)
{
    // The channel and the broker's socket first, at fixed numbers, so that nothing
    // opened below can take their places.
    for (auto [pnFd, nTo] : {std::pair{&nChannel, kReaderChannel}, std::pair{&nBroker, kReaderBroker}}) {
        if (*pnFd < 0 || *pnFd == nTo)
            continue;
        if (dup2(*pnFd, nTo) != nTo) {
            strError = std::string("the reader's channel cannot be moved: ") + std::strerror(errno);
            return false;
        }
        close(*pnFd);
        *pnFd = nTo;
    }
    // Standard input, output and error are none of the run's: the reader's lines
    // reach the terminal only through the writer, as text. A sanitizer's reports
    // keep the real standard error.
    const int nNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nNull < 0 || dup2(nNull, STDIN_FILENO) != STDIN_FILENO || dup2(nNull, STDOUT_FILENO) != STDOUT_FILENO ||
        (!HasSanitizerRuntime() && dup2(nNull, STDERR_FILENO) != STDERR_FILENO)) {
        strError = std::string("the reader's descriptors cannot be set: ") + std::strerror(errno);
        return false;
    }
    // Everything else the writer held (its outputs among them) is closed.
    const int nFirstOther = nBroker >= 0 ? kReaderBroker + 1 : kReaderChannel + 1;
    if (syscall(SYS_close_range, nFirstOther, ~0U, 0) != 0)
        for (int nFd = nFirstOther; nFd < 65536; ++nFd)
            close(nFd);
    g_nLineFd = nChannel;
    g_bLineFramed = true;
    WarmSymbolizer();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) {
        strError = std::string("the reader cannot be tied to its writer: ") + std::strerror(errno);
        return false;
    }
    if (const int nThreads = CountThreads(); nThreads != 1) {
        strError = "the reader has " + std::to_string(nThreads) + " threads, not one";
        return false;
    }
    CONFINEMENT reader = confinement;
    reader.nReceiveFd = nBroker;
    return LimitReader(strError) && DropCapabilities(strError) &&
           ConfineProcess(reader, kDeniedFails, strLinePrefix, strMissing, strError);
}

bool SandboxRefused()
{
    return g_bRefused != 0;
}

bool PathsConfined()
{
    return g_bPathsConfined || !g_astrRoots.empty();
}

bool IsWithinRoots(int nFd)
{
    if (g_astrRoots.empty())
        return true;
    char szPath[4096];
    const ssize_t nLength = readlink(("/proc/self/fd/" + std::to_string(nFd)).c_str(), szPath, sizeof(szPath) - 1);
    if (nLength <= 0)
        return false;
    const std::string_view strPath(szPath, static_cast<std::size_t>(nLength));
    for (const std::string& strRoot : g_astrRoots)
        if (strPath.compare(0, strRoot.size(), strRoot) == 0 &&
            (strPath.size() == strRoot.size() || strPath[strRoot.size()] == '/' || strRoot == "/"))
            return true;
    return false;
}

// The sanitizer interface, when a run-time is linked in.
extern "C" void __sanitizer_symbolize_pc(void* pPc, const char* szFormat, char* szOut, std::size_t nSize)
    __attribute__((weak));
extern "C" void __sanitizer_set_report_path(const char* szPath) __attribute__((weak));

bool HasSanitizerRuntime()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer) || \
    __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return __sanitizer_set_report_path != nullptr;
#endif
}

void WarmSymbolizer()
{
    if (!HasSanitizerRuntime())
        return;
    signal(SIGPIPE, SIG_IGN);
    if (__sanitizer_symbolize_pc != nullptr) {
        char szFrame[256];
        __sanitizer_symbolize_pc(reinterpret_cast<void*>(&WarmSymbolizer), "%p %F %L", szFrame, sizeof(szFrame));
    }
}
