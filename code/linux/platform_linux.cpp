// Linux implementation of the operating-system layer (platform.h).
#include "platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform_linux.h"
#include "platform_net.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

// Calls fnCall again for as long as a signal interrupts it (-1 with EINTR).
template <typename Call>
auto RetryInterrupted(Call fnCall)
{
    decltype(fnCall()) result;
    do {
        result = fnCall();
    } while (result < 0 && errno == EINTR);
    return result;
}

// A failed name lookup leaves the resolver's code (negative in glibc) in errno,
// moved above every errno value, so that the last error can name either kind.
constexpr int RESOLVER_ERROR_BASE = 0x10000;

// strerror_r comes in two flavours: the XSI one fills the buffer and returns an
// int, the GNU one returns the text it chose.
[[maybe_unused]] const char* StrerrorResult(int /*iResult*/, const char* pcBuf)
{
    return pcBuf;
}
[[maybe_unused]] const char* StrerrorResult(const char* pcText, const char* /*pcBuf*/)
{
    return pcText;
}

const sockaddr* SockAddr(const PlatAddr& sAddr)
{
    return reinterpret_cast<const sockaddr*>(sAddr.pucData);
}

int ToFd(PlatSocket sock)
{
    return static_cast<int>(sock);
}

}  // namespace

void PlatInitProcess(void)
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lower descriptors are open by now, so open() takes fd itself.
        int fdNull = open("/dev/null", O_RDWR);
        if (fdNull > fd) {
            dup2(fdNull, fd);
            close(fdNull);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool PlatIsSeparator(char c)
{
    return c == '/';
}

bool PlatProgramDir(char* pcBuf, std::size_t size)
{
    ssize_t n = readlink("/proc/self/exe", pcBuf, size);
    if (n <= 0 || static_cast<std::size_t>(n) >= size)
        return false;
    pcBuf[n] = '\0';
    char* pcLast = std::strrchr(pcBuf, '/');
    if (pcLast == nullptr)
        return false;
    // The root directory keeps its slash.
    pcLast[pcLast == pcBuf ? 1 : 0] = '\0';
    return true;
}

int PlatLastError(void)
{
    return errno;
}

void PlatErrorText(int iError, char* pcBuf, std::size_t size)
{
    const char* pcText;
    if (iError > RESOLVER_ERROR_BASE)
        pcText = gai_strerror(RESOLVER_ERROR_BASE - iError);
    else
        pcText = StrerrorResult(strerror_r(iError, pcBuf, size), pcBuf);
    if (pcText != pcBuf)
        std::snprintf(pcBuf, size, "%s", pcText);
}

void PlatSleep(std::uint64_t ullMilliseconds)
{
    timespec sTime = {static_cast<time_t>(ullMilliseconds / 1000),
                      static_cast<long>(ullMilliseconds % 1000) * 1000000L};
    while (nanosleep(&sTime, &sTime) == -1 && errno == EINTR) {
    }
}

std::uint64_t PlatNowMs(void)
{
    timespec sNow;
    clock_gettime(CLOCK_MONOTONIC, &sNow);
    return static_cast<std::uint64_t>(sNow.tv_sec) * 1000 + static_cast<std::uint64_t>(sNow.tv_nsec / 1000000);
}

void PlatExit(int iStatus)
{
    // _exit rather than exit: the other thread may still be running, and must
    // not meet objects that exit's clean-up has already torn down.
    std::fflush(nullptr);
    _exit(iStatus);
}

namespace {

// The signals whose default action ends the process without a fault: each
// runs the handler first. Faults and SIGABRT stay with the system and the
// sanitizers; SIGPIPE is ignored. The real-time signals follow at run time.
constexpr int lk_iEndSignals[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR};
void (*volatile lk_pfnOnTerminate)(void);

// Runs the handler, then ends the process by the signal's default action.
void TerminateSignal(int iSignal)
{
    const int iSavedErrno = errno;
    lk_pfnOnTerminate();
    std::signal(iSignal, SIG_DFL);
    raise(iSignal);
    errno = iSavedErrno;
}

// A signal that was ignored when the program started stays ignored.
void CatchUnlessIgnored(int iSignal, const struct sigaction& sAction)
{
    struct sigaction sOld;
    if (sigaction(iSignal, nullptr, &sOld) == 0 && sOld.sa_handler != SIG_IGN)
        sigaction(iSignal, &sAction, nullptr);
}

}  // namespace

void PlatOnTerminate(void (*pfnHandler)(void))
{
    lk_pfnOnTerminate = pfnHandler;
    struct sigaction sAction;
    std::memset(&sAction, 0, sizeof sAction);
    sAction.sa_handler = TerminateSignal;
    sigfillset(&sAction.sa_mask);
    for (int iSignal : lk_iEndSignals)
        CatchUnlessIgnored(iSignal, sAction);
    // Those the C library leaves to programs (it keeps the lowest for itself).
    for (int iSignal = SIGRTMIN; iSignal <= SIGRTMAX; ++iSignal)
        CatchUnlessIgnored(iSignal, sAction);
}

namespace {

void* ThreadEntry(void* pvBody)
{
    reinterpret_cast<void (*)(void)>(pvBody)();
    return nullptr;
}

}  // namespace

bool PlatThreadStart(PlatThread* pThread, void (*pfnBody)(void))
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, ThreadEntry, reinterpret_cast<void*>(pfnBody)) != 0)
        return false;
    *pThread = static_cast<PlatThread>(thread);
    return true;
}

void PlatThreadJoin(PlatThread thread)
{
    pthread_join(static_cast<pthread_t>(thread), nullptr);
}

void PlatThreadDetach(PlatThread thread)
{
    pthread_detach(static_cast<pthread_t>(thread));
}

// A default mutex of the C library is all zero bytes when it is initialised
// statically, as a zeroed PlatLock is.
static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatLock::pucData));

void PlatLockTake(PlatLock* psLock)
{
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(psLock->pucData));
}

void PlatLockGive(PlatLock* psLock)
{
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(psLock->pucData));
}

int PlatWrite(int fd, const void* pData, int len)
{
    return static_cast<int>(RetryInterrupted([&] { return write(fd, pData, static_cast<std::size_t>(len)); }));
}

int PlatAppendOpen(const char* pcPath)
{
    return RetryInterrupted([&] { return open(pcPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666); });
}

bool PlatAppendWrite(int fd, const void* pData, int len)
{
    // A write that the system cuts short is followed by the rest: a record
    // cut in two is still whole in the file, where a cut one would stay broken.
    return PlatWriteAll(PlatWrite, fd, pData, len) == len;
}

bool PlatIsTerminal(int fd)
{
    return isatty(fd) == 1;
}

bool PlatClearScreen(int fd)
{
    static const char CLEAR_SEQUENCE[] = "\x1b[H\x1b[2J";
    if (!PlatIsTerminal(fd))
        return true;
    return PlatWrite(fd, CLEAR_SEQUENCE, sizeof CLEAR_SEQUENCE - 1) == sizeof CLEAR_SEQUENCE - 1;
}

int PlatFileNo(std::FILE* pFile)
{
    return fileno(pFile);
}

bool PlatSetBinary(int /*fd*/)
{
    // POSIX descriptors have no text mode.
    return true;
}

bool PlatFileSize(int fd, std::uint64_t* pullSize)
{
    struct stat sStat;
    if (fstat(fd, &sStat) != 0 || sStat.st_size < 0)
        return false;
    *pullSize = static_cast<std::uint64_t>(sStat.st_size);
    return true;
}

PlatFileKind PlatFileKindOf(int fd)
{
    struct stat sStat;
    if (fstat(fd, &sStat) != 0)
        return PLAT_FILE_UNKNOWN;
    if (S_ISREG(sStat.st_mode))
        return PLAT_FILE_REGULAR;
    return S_ISDIR(sStat.st_mode) ? PLAT_FILE_DIRECTORY : PLAT_FILE_OTHER;
}

bool PlatSameFile(int fd, const char* pcPath)
{
    struct stat sOpen, sNamed;
    return fstat(fd, &sOpen) == 0 && stat(pcPath, &sNamed) == 0 && sOpen.st_dev == sNamed.st_dev &&
           sOpen.st_ino == sNamed.st_ino;
}

bool PlatGrowPipe(int fd, int size)
{
    return fcntl(fd, F_SETPIPE_SZ, size) >= 0;
}

int PlatRead(int fd, void* pBuf, int size)
{
    return static_cast<int>(RetryInterrupted([&] { return read(fd, pBuf, static_cast<std::size_t>(size)); }));
}

int PlatNetStartup(void)
{
    return 0;
}

PlatSocket PlatSocketOpen(bool bUDP, const PlatAddr& sAddr)
{
    int fd = socket(NetAddrFamily(sAddr), (bUDP ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    return fd < 0 ? PLAT_NO_SOCKET : fd;
}

void PlatSocketClose(PlatSocket sock)
{
    close(ToFd(sock));
}

namespace {

// Bytes sent but not yet acknowledged by the peer.
int UnacknowledgedBytes(int fd)
{
    int iQueued = 0;
    return ioctl(fd, SIOCOUTQ, &iQueued) == 0 ? iQueued : 0;
}

// Reads by pfnRead and drops what has arrived; false at the end of the
// connection or on a failure.
bool DropArrived(PlatReadNow pfnRead)
{
    unsigned char pucBuf[4096];
    for (;;) {
        const int n = pfnRead(pucBuf, sizeof pucBuf);
        if (n == 0)
            return false;
        if (n < 0)
            return n == PLAT_RECV_NONE;
    }
}

}  // namespace

void PlatSocketFlush(PlatSocket sock, PlatReadNow pfnDiscard, std::uint64_t ullStallMs)
{
    int fd = ToFd(sock);
    if (shutdown(fd, SHUT_WR) != 0)
        return;
    int iLeft = UnacknowledgedBytes(fd);
    std::uint64_t ullProgress = PlatNowMs();
    while (iLeft > 0 && PlatNowMs() - ullProgress < ullStallMs) {
        pollfd sPoll = {fd, static_cast<short>(pfnDiscard != nullptr ? POLLIN : 0), 0};
        // A poll that fails other than by a signal cannot watch the connection
        // (nor see its reset): waiting on would only spin until the stall limit.
        if (poll(&sPoll, 1, 10) < 0 && errno != EINTR)
            break;
        // A reset connection acknowledges nothing more: its unacknowledged
        // end would keep the count above zero until the stall limit.
        if ((sPoll.revents & POLLERR) != 0)
            break;
        if (pfnDiscard != nullptr && (sPoll.revents & POLLIN) != 0 && !DropArrived(pfnDiscard))
            pfnDiscard = nullptr;
        int iNow = UnacknowledgedBytes(fd);
        if (iNow < iLeft)
            ullProgress = PlatNowMs();
        iLeft = iNow;
    }
    if (pfnDiscard != nullptr)
        DropArrived(pfnDiscard);
}

bool PlatSocketEndSending(PlatSocket sock)
{
    return shutdown(ToFd(sock), SHUT_WR) == 0;
}

PlatSendState PlatSocketSendState(PlatSocket sock)
{
    int iError = 0;
    socklen_t len = sizeof iError;
    if (getsockopt(ToFd(sock), SOL_SOCKET, SO_ERROR, &iError, &len) != 0 || iError != 0) {
        errno = iError != 0 ? iError : errno;
        return PLAT_SEND_FAILED;
    }
    return UnacknowledgedBytes(ToFd(sock)) > 0 ? PLAT_SEND_PENDING : PLAT_SEND_DELIVERED;
}

void PlatSocketShutdown(PlatSocket sock)
{
    shutdown(ToFd(sock), SHUT_RDWR);
}

bool PlatSocketNoDelay(PlatSocket sock)
{
    const int iOn = 1;
    return setsockopt(ToFd(sock), IPPROTO_TCP, TCP_NODELAY, &iOn, sizeof iOn) == 0;
}

// Quick acknowledgement lasts a while only: it is asked for again after every
// receive.
bool PlatSocketAckNow(PlatSocket sock)
{
    const int iOn = 1;
    return setsockopt(ToFd(sock), IPPROTO_TCP, TCP_QUICKACK, &iOn, sizeof iOn) == 0;
}

void NetSetResolverError(int iResult)
{
    // A system failure has its errno already; the others get the resolver's code.
    if (iResult != EAI_SYSTEM)
        errno = RESOLVER_ERROR_BASE - iResult;
}

namespace {

// Waits up to ullMilliseconds (PLAT_WAIT_FOREVER: without a limit) for a
// connect under way to end; its outcome (0 or an errno value).
int ConnectOutcome(int fd, std::uint64_t ullMilliseconds)
{
    pollfd sPoll = {fd, POLLOUT, 0};
    const int iWait = ullMilliseconds == PLAT_WAIT_FOREVER
                          ? -1
                          : static_cast<int>(ullMilliseconds < INT32_MAX ? ullMilliseconds : INT32_MAX);
    const int iReady = RetryInterrupted([&] { return poll(&sPoll, 1, iWait); });
    if (iReady == 0)
        return ETIMEDOUT;
    int iError = 0;
    socklen_t len = sizeof iError;
    if (iReady < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &iError, &len) != 0)
        return errno;
    return iError;
}

// Starts a connect: 0, EINPROGRESS while it is under way, or an errno value.
// A signal that interrupts it leaves the attempt going on in the kernel, so
// the call is made again: it then finds the attempt under way (EALREADY) or
// done (EISCONN), or, where no attempt was left, makes one.
int ConnectStart(int fd, const PlatAddr& sAddr)
{
    bool bInterrupted = false;
    while (connect(fd, SockAddr(sAddr), sAddr.ulLen) != 0) {
        if (errno != EINTR) {
            if (bInterrupted && errno == EISCONN)
                return 0;
            return bInterrupted && errno == EALREADY ? EINPROGRESS : errno;
        }
        bInterrupted = true;
    }
    return 0;
}

}  // namespace

bool PlatConnect(PlatSocket sock, const PlatAddr& sAddr)
{
    int iError = ConnectStart(ToFd(sock), sAddr);
    if (iError == EINPROGRESS)
        iError = ConnectOutcome(ToFd(sock), PLAT_WAIT_FOREVER);
    errno = iError;
    return iError == 0;
}

PlatConnectResult PlatConnectWithin(PlatSocket sock, const PlatAddr& sAddr, std::uint64_t ullMilliseconds)
{
    const int fd = ToFd(sock);
    const int iFlags = fcntl(fd, F_GETFL);
    if (iFlags == -1 || fcntl(fd, F_SETFL, iFlags | O_NONBLOCK) != 0)
        return PLAT_CONNECT_FAILED;
    int iError = ConnectStart(fd, sAddr);
    if (iError == EINPROGRESS)
        iError = ConnectOutcome(fd, ullMilliseconds);
    fcntl(fd, F_SETFL, iFlags);
    errno = iError;
    if (iError == 0)
        return PLAT_CONNECTED;
    const bool bAgain = iError == ECONNREFUSED || iError == ENETUNREACH || iError == EHOSTUNREACH ||
                        iError == ETIMEDOUT || iError == ENETDOWN || iError == EHOSTDOWN;
    return bAgain ? PLAT_CONNECT_AGAIN : PLAT_CONNECT_FAILED;
}

int PlatSend(PlatSocket sock, const void* pData, int len)
{
    return static_cast<int>(
        RetryInterrupted([&] { return send(ToFd(sock), pData, static_cast<std::size_t>(len), MSG_NOSIGNAL); }));
}

int PlatSendFile(PlatSocket sock, int fd, int size)
{
    const ssize_t n =
        RetryInterrupted([&] { return sendfile(ToFd(sock), fd, nullptr, static_cast<std::size_t>(size)); });
    // A descriptor that sendfile cannot read from (a pipe, say) is no failure.
    if (n < 0 && (errno == EINVAL || errno == ENOSYS))
        return PLAT_NO_SENDFILE;
    return static_cast<int>(n);
}

int PlatSendTo(PlatSocket sock, const void* pData, int len, const PlatAddr& sAddr)
{
    return static_cast<int>(RetryInterrupted([&] {
        return sendto(ToFd(sock), pData, static_cast<std::size_t>(len), MSG_NOSIGNAL, SockAddr(sAddr), sAddr.ulLen);
    }));
}

int WaitReadableFd(int fd, std::uint64_t ullMilliseconds)
{
    const bool bForever = ullMilliseconds == PLAT_WAIT_FOREVER;
    const std::uint64_t ullEnd = bForever ? 0 : PlatNowMs() + ullMilliseconds;
    pollfd sPoll = {fd, POLLIN, 0};
    for (;;) {
        int iWait = -1;
        if (!bForever) {
            std::uint64_t ullNow = PlatNowMs();
            std::uint64_t ullLeft = ullNow < ullEnd ? ullEnd - ullNow : 0;
            iWait = static_cast<int>(ullLeft < INT32_MAX ? ullLeft : INT32_MAX);
        }
        int iResult = poll(&sPoll, 1, iWait);
        if (iResult > 0)
            return 1;
        if (iResult < 0 && errno != EINTR)
            return -1;
        if (iResult == 0 && !bForever && PlatNowMs() >= ullEnd)
            return 0;
    }
}

int PlatWaitReadable(PlatSocket sock, std::uint64_t ullMilliseconds)
{
    return WaitReadableFd(ToFd(sock), ullMilliseconds);
}

int PlatRecv(PlatSocket sock, void* pBuf, int size)
{
    return static_cast<int>(
        RetryInterrupted([&] { return recv(ToFd(sock), pBuf, static_cast<std::size_t>(size), 0); }));
}

int PlatRecvNow(PlatSocket sock, void* pBuf, int size)
{
    const ssize_t n =
        RetryInterrupted([&] { return recv(ToFd(sock), pBuf, static_cast<std::size_t>(size), MSG_DONTWAIT); });
    // Linux gives EAGAIN (the same value as EWOULDBLOCK) for an empty socket.
    return n < 0 && errno == EAGAIN ? PLAT_RECV_NONE : static_cast<int>(n);
}
