// A reader taken over by a bug, for the hostile-evidence suite: preloaded into a
// run, it acts as soon as the reader's seccomp filter is loaded, as code an
// exploit runs would, and says what it got in line frames on the reader's channel
// (descriptor 3), where the writer writes them as text. VH_TAKEN_OVER names what it
// tries, comma-separated: "escape" (write a terminal's escapes on descriptors 0 to
// 2, read what was typed ahead, change the flags of standard error), "read:PATH"
// (open and read a file), "ask:NAME" (ask the writer for a file beside the image
// and read what it hands over), "linger" (say the system is open and the run
// done, then hold the channel open), "limits" (map 1 TiB, grow a file in memory past 2 GiB),
// "refused" (make a call the filter denies: a socket), "crash" (die by SIGSEGV).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using scmp_filter_ctx = void*;

namespace {

void Say(const char* szText)
{
    char achFrame[1024];
    size_t nLength = strlen(szText);
    if (nLength > sizeof(achFrame) - 5)
        nLength = sizeof(achFrame) - 5;
    achFrame[0] = 4; /* a line */
    for (int i = 0; i < 4; ++i)
        achFrame[1 + i] = static_cast<char>(nLength >> (8 * i) & 0xFF);
    memcpy(achFrame + 5, szText, nLength);
    if (write(3, achFrame, nLength + 5) < 0)
        _exit(99);
}

void Escape(void)
{
    static const char kEscapes[] = "\x1b]0;taken over\x07\x1b[2J\rvirushist: all logs read, exit 0\n";
    char szLine[512];
    for (int nFd = 0; nFd <= 2; ++nFd) {
        const ssize_t nWritten = write(nFd, kEscapes, sizeof(kEscapes) - 1);
        (void)nWritten;
    }
    char achTyped[128] = {};
    fcntl(0, F_SETFL, O_NONBLOCK);
    const ssize_t nRead = read(0, achTyped, sizeof(achTyped) - 1);
    for (ssize_t i = 0; i < nRead; ++i)
        if (static_cast<unsigned char>(achTyped[i]) < 0x20)
            achTyped[i] = '.';
    snprintf(szLine, sizeof(szLine), "taken over: typed ahead: [%s]", nRead > 0 ? achTyped : "");
    Say(szLine);
    const int nFlags = fcntl(2, F_GETFL);
    fcntl(2, F_SETFL, (nFlags | O_NONBLOCK) & ~O_APPEND);
    lseek(2, 0, SEEK_SET);
    const ssize_t nOver = write(2, "OVERWRITTEN", 11);
    (void)nOver;
}

void Read(const char* szPath)
{
    char szLine[600], achData[200] = {};
    const int nFd = open(szPath, O_RDONLY);
    if (nFd < 0) {
        snprintf(szLine, sizeof(szLine), "taken over: %s refused (%s)", szPath, strerror(errno));
    } else {
        const ssize_t nRead = read(nFd, achData, sizeof(achData) - 1);
        for (ssize_t i = 0; i < nRead; ++i)
            if (static_cast<unsigned char>(achData[i]) < 0x20)
                achData[i] = '.';
        snprintf(szLine, sizeof(szLine), "taken over: %s read [%s]", szPath, achData);
        close(nFd);
    }
    Say(szLine);
}

void Ask(const char* szName)
{
    char achFrame[300], szLine[600], achData[200] = {};
    const std::size_t nLength = strlen(szName) < 255 ? strlen(szName) : 255;
    achFrame[0] = 6;  // a file asked for
    for (int i = 0; i < 4; ++i)
        achFrame[1 + i] = static_cast<char>(nLength >> (8 * i) & 0xFF);
    memcpy(achFrame + 5, szName, nLength);
    if (write(3, achFrame, nLength + 5) < 0)
        _exit(99);
    char chAnswer = 0;
    iovec data{&chAnswer, 1};
    alignas(cmsghdr) char achControl[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = achControl;
    message.msg_controllen = sizeof(achControl);
    int nFd = -1;
    if (recvmsg(4, &message, 0) == 1 && CMSG_FIRSTHDR(&message) != nullptr)
        memcpy(&nFd, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof(int));
    const ssize_t nRead = nFd >= 0 ? read(nFd, achData, sizeof(achData) - 1) : -1;
    for (ssize_t i = 0; i < nRead; ++i)
        if (static_cast<unsigned char>(achData[i]) < 0x20)
            achData[i] = '.';
    snprintf(szLine, sizeof(szLine), "taken over: asked for %s: %s [%s]", szName,
             nFd >= 0 ? "handed over" : "none", achData);
    Say(szLine);
}

void Limits(void)
{
    char szLine[256];
    void* pMap = mmap(NULL, 1ULL << 40, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    snprintf(szLine, sizeof(szLine), "taken over: 1 TiB mapped: %s", pMap == MAP_FAILED ? strerror(errno) : "yes");
    Say(szLine);
    const int nFd = memfd_create("taken-over", 0);
    static char achChunk[1 << 20];
    long long nSize = 0;
    int nError = 0;
    while (nFd >= 0 && nSize < (3LL << 30)) {
        const ssize_t nWritten = write(nFd, achChunk, sizeof(achChunk));
        if (nWritten <= 0) {
            nError = errno;
            break;
        }
        nSize += nWritten;
    }
    snprintf(szLine, sizeof(szLine), "taken over: a file in memory grew to %lld MiB (%s)", nSize >> 20,
             nError != 0 ? strerror(nError) : "no limit");
    Say(szLine);
    if (nFd >= 0)
        close(nFd);
}

}  // namespace

extern "C" int seccomp_load(const scmp_filter_ctx hFilter)
{
    const auto pLoad = reinterpret_cast<int (*)(const scmp_filter_ctx)>(dlsym(RTLD_NEXT, "seccomp_load"));
    const int nResult = pLoad(hFilter);
    const char* szWhat = getenv("VH_TAKEN_OVER");
    if (szWhat == NULL)
        return nResult;
    char szList[1024];
    snprintf(szList, sizeof(szList), "%s", szWhat);
    for (char* szNext = NULL, *szItem = strtok_r(szList, ",", &szNext); szItem != NULL;
         szItem = strtok_r(NULL, ",", &szNext)) {
        if (strcmp(szItem, "escape") == 0)
            Escape();
        else if (strncmp(szItem, "read:", 5) == 0)
            Read(szItem + 5);
        else if (strncmp(szItem, "ask:", 4) == 0)
            Ask(szItem + 4);
        else if (strcmp(szItem, "linger") == 0) {
            const char achFrames[] = {1, 0, 0, 0, 0, 5, 1, 0, 0, 0, 0};  // opened; the end, status 0
            if (write(3, achFrames, sizeof(achFrames)) < 0)
                _exit(99);
            for (;;)
                sleep(1000);
        } else if (strcmp(szItem, "limits") == 0)
            Limits();
        else if (strcmp(szItem, "refused") == 0)
            socket(AF_INET, SOCK_STREAM, 0);
        else if (strcmp(szItem, "crash") == 0)
            raise(SIGSEGV);
    }
    return nResult;
}
