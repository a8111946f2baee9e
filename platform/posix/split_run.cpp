// The Linux run in two processes, in the privilege-separation style of OpenSSH:
// the writer, the process the user started, finds what reading may open without
// reading any of it, forks, and writes what it is sent; the reader, its child,
// confines itself (sandbox.cpp) before it reads a byte of the system, and hands
// everything it would write on as frames over a pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/posix/sandbox.h"
#include "platform/posix/system.h"
#include "platform/posix/volumes/image_layers.h"
#include "platform/posix/volumes/volume.h"

namespace plat {

namespace {

constexpr const char* kSandboxVariable = "VIRUSHIST_SANDBOX";
constexpr std::size_t kQueueSize = 64 << 10;   // the reader's frames sent at once
constexpr std::size_t kPipeSize = 1 << 20;     // what an unprivileged process may ask
constexpr uint8_t kSystemUnreadable = 7;       // the run's exit status for a sandbox it cannot have

constexpr int kMaxFilesHandedOver = 64;           // a QCOW chain's depth, opened twice at most
constexpr int kReaderGraceSeconds = 10;           // for a reader done, or whose channel closed, to exit

bool g_bReader = false;
int g_nChannel = -1;  // the reader's end of the pipe, or the writer's
// The broker's socket, on which the writer hands the reader the files an image
// names: the reader's end, or the writer's; -1 unless an image is read.
int g_nBroker = -1;
std::string g_strImage;  // the writer's: the image named, whose files it hands over
int g_nFilesHandedOver = 0;
pid_t g_nReader = 0;
std::string g_strQueue;

// VIRUSHIST_SANDBOX: "off" turns the confinement off, for a user who must debug;
// unset, empty or "on" leaves it on; anything else is a mistake to say.
enum class Sandbox { kOn, kOff, kUnknown };
Sandbox SandboxSetting()
{
    const char* const szValue = std::getenv(kSandboxVariable);
    if (szValue == nullptr || *szValue == '\0' || std::strcmp(szValue, "on") == 0)
        return Sandbox::kOn;
    return std::strcmp(szValue, "off") == 0 ? Sandbox::kOff : Sandbox::kUnknown;
}

// What a kernel without Landlock or seccomp leaves the reader, in one line.
std::string MissingLine(const std::string& strMissing)
{
    if (strMissing == "Landlock")
        return "this kernel has no Landlock: the reader writes nothing and holds no capability, but may read "
               "any file this user may";
    if (strMissing == "seccomp")
        return "this kernel has no seccomp: the reader reads only beneath the system's folders and writes "
               "nothing, but its system calls are not filtered";
    return "this kernel has neither Landlock nor seccomp: the reader holds no capability and no other "
           "descriptor, but may read and write what this user may";
}

// What a sanitizer's run-time reads once confined: the process's own /proc, and
// the leak check's suppressions file.
void AddSanitizerPlaces(CONFINEMENT& confinement)
{
    if (!HasSanitizerRuntime())
        return;
    confinement.astrReadBeneath.push_back("/proc/self");
    if (const char* szOptions = std::getenv("LSAN_OPTIONS")) {
        const std::string strOptions = std::string(":") + szOptions;  // each option after a ":"
        const std::string strKey = ":suppressions=";
        if (const std::size_t nStart = strOptions.find(strKey); nStart != std::string::npos) {
            const std::size_t nEnd = strOptions.find(':', nStart + 1);
            confinement.astrReadFiles.push_back(strOptions.substr(
                nStart + strKey.size(), nEnd == std::string::npos ? std::string::npos : nEnd - nStart - strKey.size()));
        }
    }
}

// The child: confined, or ended with the reason sent to the writer.
RunPart BecomeReader(const CONFINEMENT& confinement, int nChannel, int nBroker)
{
    std::string strMissing, strError;
    const bool bConfined = ConfineReader(confinement, nChannel, nBroker, LinePrefix(), strMissing, strError);
    g_bReader = true;
    g_nChannel = nChannel;
    g_nBroker = nBroker;
    if (!bConfined) {
        WriteErrorLine(LinePrefix() + "the sandbox cannot be set up (" + strError + "); set " + kSandboxVariable +
                       "=off to run without it");
        const char chStatus = static_cast<char>(kSystemUnreadable);
        SendFrame(kFrameEnd, std::string_view(&chStatus, 1));
        FlushFrames();
        _exit(0);
    }
    if (!strMissing.empty())
        WriteErrorLine(LinePrefix() + MissingLine(strMissing));
    return kRunReader;
}

}  // namespace

RunPart SplitRun(const char* szPattern, bool bShadowCopies)
{
    const Sandbox setting = SandboxSetting();
    if (setting == Sandbox::kUnknown) {
        WriteErrorLine(LinePrefix() + kSandboxVariable + "=" + std::getenv(kSandboxVariable) +
                       " is neither on nor off");
        return kRunRefused;
    }
    if (setting == Sandbox::kOff)
        return kRunWhole;

    // What reading will open, and load, found now; none of the system is read.
    CONFINEMENT confinement;
    bool bImage = false;
    ReadingPlaces(confinement.astrReadBeneath, confinement.astrReadFiles, bImage);
    AddSanitizerPlaces(confinement);
    std::string strError;
    if (bImage)
        LoadImageLibraries(bShadowCopies, strError);  // what cannot be loaded, reading says
    WarmHostLocale(szPattern);

    int anPipe[2];
    int anBroker[2] = {-1, -1};
    if (pipe2(anPipe, O_CLOEXEC) != 0 ||
        (bImage && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, anBroker) != 0)) {
        WriteErrorLine(LinePrefix() + "the reader cannot be started (" + std::strerror(errno) + ")");
        return kRunRefused;
    }
    // A larger pipe: the reader and the writer wake each other less often.
    fcntl(anPipe[0], F_SETPIPE_SZ, static_cast<int>(kPipeSize));
    std::fflush(nullptr);
    const pid_t nChild = fork();
    if (nChild < 0) {
        WriteErrorLine(LinePrefix() + "the reader cannot be started (" + std::strerror(errno) + ")");
        for (const int nFd : {anPipe[0], anPipe[1], anBroker[0], anBroker[1]})
            if (nFd >= 0)
                close(nFd);
        return kRunRefused;
    }
    if (nChild == 0) {
        close(anPipe[0]);
        if (bImage)
            close(anBroker[0]);
        return BecomeReader(confinement, anPipe[1], anBroker[1]);
    }
    close(anPipe[1]);
    if (bImage) {
        close(anBroker[1]);
        g_nBroker = anBroker[0];
        g_strImage = confinement.astrReadFiles.front();
    }
    g_nChannel = anPipe[0];
    g_nReader = nChild;
    return kRunWriter;
}

void SendFrame(FrameType type, std::string_view strPayload)
{
    AppendFrame(g_strQueue, type, strPayload);
    if (g_strQueue.size() >= kQueueSize)
        FlushFrames();
}

void FlushFrames()
{
    std::size_t nDone = 0;
    while (nDone < g_strQueue.size()) {
        const ssize_t nWritten = write(g_nChannel, g_strQueue.data() + nDone, g_strQueue.size() - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            _exit(4);  // the writer is gone: nothing read now reaches an output
        nDone += static_cast<std::size_t>(nWritten);
    }
    g_strQueue.clear();
}

bool ReadingRefused()
{
    return SandboxRefused() || AnyUnread();
}

long ReceiveFrames(char* pBuffer, std::size_t nSize)
{
    for (;;) {
        const ssize_t nRead = read(g_nChannel, pBuffer, nSize);
        if (nRead >= 0 || errno != EINTR)
            return static_cast<long>(nRead);
    }
}

std::string WaitForReader(bool bEnd)
{
    if (g_nReader <= 0)
        return std::string();
    // After its last frame, or its channel closed, a reader exits at once (a
    // sanitizer's leak check may take a moment); one that lingers is ended.
    bool bEnded = bEnd;
    if (bEnd)
        kill(g_nReader, SIGKILL);
    int nStatus = 0;
    for (int nWaited = 0;; ++nWaited) {
        const pid_t nDone = waitpid(g_nReader, &nStatus, bEnded ? 0 : WNOHANG);
        if (nDone == g_nReader || (nDone < 0 && errno != EINTR))
            break;
        if (nDone == 0 && nWaited >= kReaderGraceSeconds * 100) {
            kill(g_nReader, SIGKILL);
            bEnded = true;
        } else if (nDone == 0) {
            const timespec tick{0, 10 * 1000 * 1000};
            nanosleep(&tick, nullptr);
        }
    }
    g_nReader = 0;
    close(g_nChannel);
    g_nChannel = -1;
    if (g_nBroker >= 0)
        close(g_nBroker);
    g_nBroker = -1;
    if (bEnded && !bEnd)
        return "it did not exit within " + std::to_string(kReaderGraceSeconds) + " seconds, and was killed";
    if (bEnd || !WIFSIGNALED(nStatus))
        return std::string();
    const int nSignal = WTERMSIG(nStatus);
    const char* const szAbbreviation = sigabbrev_np(nSignal);
    return "killed by signal " + std::to_string(nSignal) +
           (szAbbreviation != nullptr ? " (SIG" + std::string(szAbbreviation) + ")" : std::string());
}

bool HandOverFile(std::string_view strName)
{
    if (g_nBroker < 0 || ++g_nFilesHandedOver > kMaxFilesHandedOver)
        return false;
    std::size_t nFolder = 0;
    const int nFd = OpenRegularBeside(g_strImage, std::string(strName), nFolder);
    // One byte: 0 for none, else the folder's number from 1; the file with it.
    char chAnswer = nFd >= 0 ? static_cast<char>(nFolder + 1) : 0;
    iovec data{&chAnswer, 1};
    alignas(cmsghdr) char achControl[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (nFd >= 0) {
        message.msg_control = achControl;
        message.msg_controllen = sizeof(achControl);
        cmsghdr* pHeader = CMSG_FIRSTHDR(&message);
        pHeader->cmsg_level = SOL_SOCKET;
        pHeader->cmsg_type = SCM_RIGHTS;
        pHeader->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(pHeader), &nFd, sizeof(int));
    }
    ssize_t nSent;
    while ((nSent = sendmsg(g_nBroker, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (nFd >= 0)
        close(nFd);
    return nSent == 1;
}

}  // namespace plat

int OpenFileBeside(const std::string& strImage, const std::string& strName, std::string& strPlace)
{
    using namespace plat;
    std::size_t nFolder = 0;
    int nFd = -1;
    if (!g_bReader) {
        nFd = OpenRegularBeside(strImage, strName, nFolder);
    } else if (g_nBroker >= 0 && strName.size() <= kMaxFileNameFrame) {
        // Asked of the writer, which opens it beside the image and hands it over.
        SendFrame(kFrameAskFile, strName);
        FlushFrames();
        char chAnswer = 0;
        iovec data{&chAnswer, 1};
        alignas(cmsghdr) char achControl[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = achControl;
        message.msg_controllen = sizeof(achControl);
        ssize_t nReceived;
        while ((nReceived = recvmsg(g_nBroker, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
        }
        const cmsghdr* pHeader = nReceived == 1 ? CMSG_FIRSTHDR(&message) : nullptr;
        if (pHeader != nullptr && pHeader->cmsg_level == SOL_SOCKET && pHeader->cmsg_type == SCM_RIGHTS &&
            pHeader->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&nFd, CMSG_DATA(pHeader), sizeof(int));
        nFolder = static_cast<unsigned char>(chAnswer) - 1u;
    }
    const std::vector<std::string> astrFolders = FoldersBeside(strImage);
    if (nFd >= 0 && nFolder >= astrFolders.size()) {
        close(nFd);
        nFd = -1;
    }
    if (nFd >= 0)
        strPlace = astrFolders[nFolder] + "/" + strName;
    return nFd;
}

namespace plat {

namespace {

std::size_t g_nProgressShown = 0;  // the columns of the progress line on the terminal

}  // namespace

void WriteErrorLine(const std::string& strLine)
{
    if (g_bReader) {
        SendFrame(kFrameLine, std::string_view(strLine).substr(0, kMaxLineFrame));
        return;
    }
    ShowProgress(std::string());
    // Names from the evidence (a Linux file name may hold any byte but "/") are
    // text here too: a control character, a terminal's escape among them, is "?".
    std::fprintf(stderr, "%s\n", PrintableUtf8(strLine).c_str());
}

bool IsTerminal(bool bOutput)
{
    return isatty(bOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

long long Milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void ShowProgress(const std::string& strLine)
{
    if (g_bReader || (strLine.empty() && g_nProgressShown == 0))
        return;
    // One column less than the terminal's width, so that the line never wraps.
    winsize size{};
    const std::size_t nWidth = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    const std::string strOut = RedrawnLine(strLine, nWidth, g_nProgressShown);
    std::fwrite(strOut.data(), 1, strOut.size(), stderr);
}

}  // namespace plat
