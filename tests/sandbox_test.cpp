// The confined reader, proven: a forked child confines itself with the functions
// the run's reader uses, then tries what a hostile input would make it try. Each
// case must fail as designed (or, for what reading needs, succeed); the test
// names any that did not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/frames.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/volumes/volume.h"

namespace {

struct PROBE {
    const char* szCase;
    bool bAllowed;                 // what reading needs; everything else must fail
    std::function<bool()> attempt;  // true when the call succeeded
};

bool Opens(const std::string& strPath, int nFlags)
{
    const int nFd = open(strPath.c_str(), nFlags | O_CLOEXEC, 0644);
    if (nFd >= 0)
        close(nFd);
    return nFd >= 0;
}

// Whether an ioctl on standard error (/dev/null there) got past the filter: one
// the filter lets through fails there with ENOTTY, a refused one with EPERM.
bool IoctlPasses(unsigned long nRequest)
{
    char abyArgument[64] = {};
    return syscall(SYS_ioctl, STDERR_FILENO, nRequest, abyArgument) == 0 || errno != EPERM;
}

// A capability set of this process, as /proc/self/status gives it (all ones when
// it cannot be read).
uint64_t CapabilitySet(const std::string& strName)
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine))
        if (strLine.rfind(strName + ":", 0) == 0)
            return std::stoull(strLine.substr(strName.size() + 1), nullptr, 16);
    return ~uint64_t{0};
}

// Runs each probe in a child confined to confinement (as a reader, with
// bReader): the names of those whose outcome was not the designed one.
std::vector<std::string> ProbeConfined(const CONFINEMENT& confinement, const std::vector<PROBE>& aProbes,
                                       bool bReader = false)
{
    int anPipe[2];
    EXPECT_EQ(pipe(anPipe), 0);
    const pid_t nChild = fork();
    if (nChild == 0) {
        close(anPipe[0]);
        const int nNull = open("/dev/null", O_WRONLY);
        dup2(nNull, STDERR_FILENO);  // the lines of refused calls
        std::string strMissing, strError;
        int nOutcomes = anPipe[1], nNoBroker = -1;
        if (bReader && !ConfineReader(confinement, nOutcomes, nNoBroker, "", strMissing, strError))
            nOutcomes = -1;
        else if (!bReader && !ConfineProcess(confinement, kDeniedFails, "", strMissing, strError))
            nOutcomes = -1;
        if (nOutcomes < 0 || strMissing != (confinement.bWithoutLandlock ? "Landlock" : ""))
            _exit(2);
        for (const PROBE& probe : aProbes) {
            const char chOutcome = probe.attempt() == probe.bAllowed ? '+' : '-';
            if (write(nOutcomes, &chOutcome, 1) != 1)
                _exit(3);
        }
        _exit(0);
    }
    close(anPipe[1]);
    std::string strOutcomes;
    char ch;
    while (read(anPipe[0], &ch, 1) == 1)
        strOutcomes += ch;
    close(anPipe[0]);
    // A reader's refused calls come as line frames on its channel, between the outcomes.
    for (std::size_t i = 0; bReader && i < strOutcomes.size();)
        if (strOutcomes[i] == kFrameLine && i + kFrameHeaderSize <= strOutcomes.size())
            strOutcomes.erase(i, kFrameHeaderSize + (static_cast<unsigned char>(strOutcomes[i + 1]) |
                                                     static_cast<unsigned char>(strOutcomes[i + 2]) << 8));
        else
            ++i;
    int nStatus = 0;
    waitpid(nChild, &nStatus, 0);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "the child could not confine itself";
    std::vector<std::string> astrWrong;
    for (std::size_t i = 0; i < aProbes.size(); ++i)
        if (i >= strOutcomes.size() || strOutcomes[i] != '+')
            astrWrong.push_back(aProbes[i].szCase);
    return astrWrong;
}

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        const SANDBOXSUPPORT support = SandboxSupport();
        if (support.nLandlockAbi == 0 || !support.bSeccomp)
            GTEST_SKIP() << "this kernel has " << DescribeSandbox(support);
        char szTemplate[] = "/tmp/vh-sandbox-XXXXXX";
        m_strWork = mkdtemp(szTemplate);
        m_strDrive = m_strWork + "/drive";
        m_strOutputs = m_strWork + "/out";
        mkdir(m_strDrive.c_str(), 0755);
        mkdir(m_strOutputs.c_str(), 0755);
        std::ofstream(m_strDrive + "/in.log") << "x";
        std::ofstream(m_strWork + "/secret") << "x";
        std::ofstream(m_strWork + "/disk.img") << "x";
        std::ofstream(m_strOutputs + "/VirusHist.csv") << "";
        symlink((m_strWork + "/secret").c_str(), (m_strDrive + "/link.log").c_str());
    }
    void TearDown() override
    {
        if (!m_strWork.empty()) {
            EXPECT_EQ(std::system(("rm -rf '" + m_strWork + "'").c_str()), 0);
        }
    }
    // What a reader may not do whatever it reads: write any file, run a program,
    // reach the network or another process, make code.
    std::vector<PROBE> CommonProbes(bool bLandlock = true) const
    {
        const std::string strHistory = m_strOutputs + "/VirusHist.csv";
        const std::string strBeside = m_strOutputs + "/beside.txt";
        const std::string strLog = m_strDrive + "/in.log";
        // The test process, the confined child's parent: a real process the child
        // knows without a call the filter refuses (getppid is one).
        const pid_t nWriter = getpid();
        std::vector<PROBE> aProbes = {
            {"appending to the history file", false, [=] { return Opens(strHistory, O_WRONLY | O_APPEND); }},
            {"opening /etc/passwd", !bLandlock, [] { return Opens("/etc/passwd", O_RDONLY); }},
            {"writing a file beside the outputs", false, [=] { return Opens(strBeside, O_WRONLY | O_CREAT); }},
            {"creating a file in /tmp", false, [] { return Opens("/tmp/vh-sandbox-made", O_RDONLY | O_CREAT); }},
            {"an open with O_TRUNC", false, [=] { return Opens(strLog, O_RDONLY | O_TRUNC); }},
            {"prlimit64 on another process", false,
             [=] {
                 rlimit limit{};
                 return prlimit(nWriter, RLIMIT_NOFILE, nullptr, &limit) == 0;
             }},
            {"prlimit64 on itself", true,
             [] {
                 rlimit limit{};
                 return prlimit(0, RLIMIT_NOFILE, nullptr, &limit) == 0;
             }},
            {"its own limits", true,
             [] {
                 rlimit limit{};
                 return getrlimit(RLIMIT_NOFILE, &limit) == 0;
             }},
            {"fcntl F_SETOWN", false, [=] { return fcntl(STDERR_FILENO, F_SETOWN, nWriter) == 0; }},
            {"tgkill on itself", true, [] { return syscall(SYS_tgkill, getpid(), gettid(), 0) == 0; }},
            {"ioctl TCGETS (isatty)", true, [] { return IoctlPasses(TCGETS); }},
            // Its request has the top bit set: widened with its sign it is the same request.
            {"ioctl BLKGETSIZE64 widened with its sign", true,
             [] { return IoctlPasses(static_cast<unsigned long>(static_cast<int>(BLKGETSIZE64))); }},
            {"ioctl BLKSSZGET", true, [] { return IoctlPasses(BLKSSZGET); }},
            {"ioctl TIOCSTI", false, [] { return IoctlPasses(TIOCSTI); }},
            {"ioctl FIONREAD", false, [] { return IoctlPasses(FIONREAD); }},
            {"ioctl FIOCLEX", false, [] { return IoctlPasses(FIOCLEX); }},
            {"execve of /bin/true", false,
             [] {
                 char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
                 return execve("/bin/true", argv, environ) == 0;
             }},
            {"a socket", false,
             [] {
                 const int nSocket = socket(AF_INET, SOCK_STREAM, 0);
                 if (nSocket >= 0)
                     close(nSocket);
                 return nSocket >= 0;
             }},
            {"mprotect with PROT_EXEC", false,
             [] {
                 void* pPage = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                 return pPage != MAP_FAILED && mprotect(pPage, 4096, PROT_READ | PROT_EXEC) == 0;
             }},
            {"mmap with PROT_EXEC", false,
             [] {
                 return mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED;
             }},
        };
        if (!HasSanitizerRuntime()) {  // the sanitizers' leak check needs a process of its own
            aProbes.push_back({"fork", false, [] {
                                   const pid_t nPid = fork();
                                   if (nPid == 0)
                                       _exit(0);
                                   return nPid > 0;
                               }});
            // Signal 0: the permission checked, nothing sent.
            aProbes.push_back({"tgkill on another process", false,
                               [=] { return syscall(SYS_tgkill, nWriter, nWriter, 0) == 0; }});
        }
        return aProbes;
    }

    std::string m_strWork, m_strDrive, m_strOutputs;
};

TEST_F(Sandbox, AFolderIsReadOnlyAndNothingOutsideIt)
{
    CONFINEMENT confinement;
    confinement.astrReadBeneath.push_back(m_strDrive);
    std::vector<PROBE> aProbes = CommonProbes();
    const std::string strDrive = m_strDrive;
    aProbes.push_back({"reading a log in the folder", true, [=] { return Opens(strDrive + "/in.log", O_RDONLY); }});
    aProbes.push_back({"writing a log in the folder", false, [=] { return Opens(strDrive + "/in.log", O_WRONLY); }});
    aProbes.push_back({"a symlink out of the folder", false, [=] { return Opens(strDrive + "/link.log", O_RDONLY); }});
    EXPECT_EQ(ProbeConfined(confinement, aProbes), std::vector<std::string>());
}

TEST_F(Sandbox, AnImageIsItsOwnFilesAlone)
{
    CONFINEMENT confinement;
    confinement.astrReadFiles.push_back(m_strWork + "/disk.img");
    std::vector<PROBE> aProbes = CommonProbes();
    const std::string strWork = m_strWork;
    aProbes.push_back({"reopening the image", true, [=] { return Opens(strWork + "/disk.img", O_RDONLY); }});
    aProbes.push_back({"a file beside the image", false, [=] { return Opens(strWork + "/secret", O_RDONLY); }});
    aProbes.push_back({"listing the image's folder", false, [=] { return Opens(strWork, O_RDONLY | O_DIRECTORY); }});
    EXPECT_EQ(ProbeConfined(confinement, aProbes), std::vector<std::string>());
}

// Without Landlock, the filter still lets a reader write, create or truncate
// nothing, and the host folder's reads follow no link out of the system's folders.
TEST_F(Sandbox, WithoutLandlockNothingIsWrittenAndNoLinkLeadsOut)
{
    CONFINEMENT confinement;
    confinement.bWithoutLandlock = true;
    confinement.astrReadBeneath.push_back(m_strDrive);
    std::vector<PROBE> aProbes = CommonProbes(false);
    const std::string strDrive = m_strDrive, strWork = m_strWork;
    uint32_t dwError = 0;
    aProbes.push_back({"a log in the folder, through the host folder", true,
                       [=]() mutable { return HostVolume().Open(strDrive + "/in.log", &dwError) != nullptr; }});
    aProbes.push_back({"a link out, through the host folder", false,
                       [=]() mutable { return HostVolume().Open(strDrive + "/link.log", &dwError) != nullptr; }});
    aProbes.push_back({"the folder's parent, through the host folder", false, [=] {
                           std::vector<VOLUMEENTRY> aEntries;
                           return HostVolume().List(strWork, aEntries);
                       }});
    // A folder beside it whose name begins with the folder's is not beneath it.
    mkdir((m_strWork + "/drive2").c_str(), 0755);
    std::ofstream(m_strWork + "/drive2/in.log") << "x";
    aProbes.push_back({"a log in drive2 beside drive, through the host folder", false,
                       [=]() mutable { return HostVolume().Open(strWork + "/drive2/in.log", &dwError) != nullptr; }});
    aProbes.push_back({"listing drive2 beside drive, through the host folder", false, [=] {
                           std::vector<VOLUMEENTRY> aEntries;
                           return HostVolume().List(strWork + "/drive2", aEntries);
                       }});
    EXPECT_EQ(ProbeConfined(confinement, aProbes), std::vector<std::string>());
}

// A reader keeps standard error and its channel, nothing else the writer held,
// and no capability.
TEST_F(Sandbox, TheReaderKeepsNoDescriptorOrCapability)
{
    // Above the channel's own descriptor, 3, which the reader moves its channel to.
    const int nOpened = open((m_strOutputs + "/VirusHist.csv").c_str(), O_WRONLY);
    const int nHeld = fcntl(nOpened, F_DUPFD, 20);
    close(nOpened);
    ASSERT_GE(nHeld, 20);
    CONFINEMENT confinement;
    confinement.astrReadBeneath = {m_strDrive, "/proc/self"};
    std::vector<PROBE> aProbes = CommonProbes();
    aProbes.push_back({"a descriptor the writer held", false, [=] { return fcntl(nHeld, F_GETFD) >= 0; }});
    aProbes.push_back({"standard error", true, [] { return fcntl(STDERR_FILENO, F_GETFD) >= 0; }});
    aProbes.push_back({"an effective capability", false, [] {
                           std::ifstream status("/proc/self/status");
                           std::string strLine;
                           while (std::getline(status, strLine))
                               if (strLine.rfind("CapEff:", 0) == 0)
                                   return strLine.find_first_not_of("0\t ", 7) != std::string::npos;
                           return true;
                       }});
    // The bounding set can be emptied only by a process holding CAP_SETPCAP (root);
    // without it the set stays full, and no new privileges keeps it unused.
    const bool bDropsBounding = (CapabilitySet("CapEff") >> CAP_SETPCAP) & 1;
    const struct {
        const char* szCase;
        const char* szSet;
    } aSets[] = {{"a permitted capability", "CapPrm"},
                 {"an inheritable capability", "CapInh"},
                 {"an ambient capability", "CapAmb"},
                 {"a capability in the bounding set", "CapBnd"}};
    for (const auto& set : aSets)
        if (bDropsBounding || std::string(set.szSet) != "CapBnd")
            aProbes.push_back({set.szCase, false, [=] { return CapabilitySet(set.szSet) != 0; }});
    EXPECT_EQ(ProbeConfined(confinement, aProbes, true), std::vector<std::string>());
    close(nHeld);
}

// The reader dies with its writer: a writer forks a reader that confines itself
// and says so; the writer is then killed, and the reader must be gone soon after.
TEST_F(Sandbox, TheReaderDiesWithItsWriter)
{
    int anPipe[2];
    ASSERT_EQ(pipe(anPipe), 0);
    const std::string strDrive = m_strDrive;
    const pid_t nWriter = fork();
    if (nWriter == 0) {
        close(anPipe[0]);
        if (fork() == 0) {
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            CONFINEMENT confinement;
            confinement.astrReadBeneath.push_back(strDrive);
            std::string strMissing, strError;
            int nChannel = anPipe[1], nNoBroker = -1;
            // Its pid once confined, -1 when it could not be.
            const pid_t nReader =
                ConfineReader(confinement, nChannel, nNoBroker, "", strMissing, strError) ? getpid() : -1;
            if (write(nChannel, &nReader, sizeof(nReader)) != sizeof(nReader) || nReader < 0)
                _exit(3);
            for (;;)
                sleep(1);
        }
        close(anPipe[1]);
        for (;;)
            pause();
    }
    close(anPipe[1]);
    pid_t nReader = -1;
    const bool bConfined = read(anPipe[0], &nReader, sizeof(nReader)) == sizeof(nReader) && nReader > 0;
    kill(nWriter, SIGKILL);
    waitpid(nWriter, nullptr, 0);
    // Gone: its end of the pipe closed, the last one.
    pollfd pipeEnd{anPipe[0], POLLIN, 0};
    char ch;
    const bool bGone = poll(&pipeEnd, 1, 5000) == 1 && read(anPipe[0], &ch, 1) == 0;
    if (bConfined && !bGone)
        kill(nReader, SIGKILL);
    close(anPipe[0]);
    ASSERT_TRUE(bConfined) << "the reader could not confine itself";
    EXPECT_TRUE(bGone) << "the reader outlived its writer";
}

}  // namespace
