// Windows implementation of the operating-system layer (platform.h): Windows
// sockets 2.2, the C runtime's descriptors in binary mode, Win32 threads and
// the system's own error texts.
#include "platform.h"
#include "platform_net.h"

#include <mswsock.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Text of the system's messages: the user's default language.
constexpr DWORD MESSAGE_FLAGS = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;  // 0x1200
constexpr DWORD MESSAGE_LANGUAGE = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);                // 0x400
constexpr DWORD MESSAGE_MAX = 1023;

// How long the end of a connection waits for the device's last answers once
// nothing more comes.
constexpr DWORD FLUSH_QUIET_MS = 50;

SOCKET ToSocket(PlatSocket sock)
{
    return static_cast<SOCKET>(sock);
}

const sockaddr* SockAddr(const PlatAddr& sAddr)
{
    return reinterpret_cast<const sockaddr*>(sAddr.pucData);
}

int AddrLen(const PlatAddr& sAddr)
{
    return static_cast<int>(sAddr.ulLen);
}

HANDLE OsHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A descriptor without a usable system handle behind it.
bool IsClosed(int fd)
{
    HANDLE handle = OsHandle(fd);
    return handle == INVALID_HANDLE_VALUE || handle == nullptr || reinterpret_cast<intptr_t>(handle) == -2;
}

// The file identity by GetFileInformationByHandleEx's FileIdInfo class
// (FILE_ID_INFO, from Windows 8 on), declared here as the headers declare it
// only for programs that require Windows 8.
constexpr int FILE_ID_INFO_CLASS = 18;
struct FileIdInfo {
    ULONGLONG ullVolume;
    BYTE pucId[16];
};

bool ReadFileId(HANDLE handle, FileIdInfo* psInfo)
{
    return GetFileInformationByHandleEx(handle, static_cast<FILE_INFO_BY_HANDLE_CLASS>(FILE_ID_INFO_CLASS), psInfo,
                                        sizeof(*psInfo)) != 0;
}

// True when both handles are open on one file: the same volume serial number
// and file index (the C runtime's stat has no inode numbers here). Wine's
// GetFileInformationByHandle fails on a handle that the process inherits
// without a name, such as standard input redirected from a file by a Unix
// shell, and tells no volume for it: FileIdInfo then gives the file numbers,
// and a volume serial number of 0 counts as unknown, so that such a handle
// still matches its file. A file of another volume with the same number is
// then taken as the same too: refused rather than the input emptied.
bool SameIdentity(HANDLE hOpen, HANDLE hNamed)
{
    BY_HANDLE_FILE_INFORMATION sOpen, sNamed;
    if (GetFileInformationByHandle(hOpen, &sOpen) != 0 && GetFileInformationByHandle(hNamed, &sNamed) != 0)
        return sOpen.dwVolumeSerialNumber == sNamed.dwVolumeSerialNumber &&
               sOpen.nFileIndexHigh == sNamed.nFileIndexHigh && sOpen.nFileIndexLow == sNamed.nFileIndexLow;
    FileIdInfo sOpenId, sNamedId;
    if (!ReadFileId(hOpen, &sOpenId) || !ReadFileId(hNamed, &sNamedId))
        return false;
    const bool bVolume = sOpenId.ullVolume == sNamedId.ullVolume || sOpenId.ullVolume == 0 || sNamedId.ullVolume == 0;
    return bVolume && std::memcmp(sOpenId.pucId, sNamedId.pucId, sizeof(sOpenId.pucId)) == 0;
}

DWORD WINAPI ThreadEntry(LPVOID pvBody)
{
    reinterpret_cast<void (*)(void)>(pvBody)();
    ExitThread(0);
}

// Waits up to dwMilliseconds (INFINITE: no limit) for data on the socket:
// 1 readable, 0 time passed, -1 failure.
// Set once a socket was shut down for the end of the process.
std::atomic<bool> lk_bSocketShut{false};
// How long a wait for a socket goes before it looks at lk_bSocketShut again.
constexpr std::uint64_t SHUT_CHECK_MS = 100;

int SelectReadable(SOCKET socket, DWORD dwMilliseconds)
{
    fd_set sRead;
    FD_ZERO(&sRead);
    FD_SET(socket, &sRead);
    timeval sLimit = {static_cast<long>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000};
    int iResult = select(0, &sRead, nullptr, nullptr, dwMilliseconds == INFINITE ? nullptr : &sLimit);
    return iResult == SOCKET_ERROR ? -1 : iResult > 0 ? 1 : 0;
}

}  // namespace

void PlatInitProcess(void)
{
    // A program started without a standard handle gets the null device there,
    // so that no file opened later takes its descriptor.
    for (int fd = 0; fd <= 2; ++fd) {
        if (!IsClosed(fd))
            continue;
        int fdNull = _open("NUL", _O_RDWR | _O_BINARY);
        if (fdNull >= 0 && fdNull != fd) {
            _dup2(fdNull, fd);
            _close(fdNull);
        }
    }
}

bool PlatIsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool PlatProgramDir(char* pcBuf, std::size_t size)
{
    if (size == 0 || size > MAXDWORD)
        return false;
    DWORD n = GetModuleFileNameA(nullptr, pcBuf, static_cast<DWORD>(size));
    if (n == 0 || n >= size)
        return false;
    char* pcLast = nullptr;
    for (char* pc = pcBuf; *pc != '\0'; ++pc)
        if (PlatIsSeparator(*pc))
            pcLast = pc;
    if (pcLast == nullptr)
        return false;
    // A drive's root directory keeps its separator ("C:\").
    pcLast[pcLast > pcBuf && pcLast[-1] == ':' ? 1 : 0] = '\0';
    return true;
}

int PlatLastError(void)
{
    // Windows sockets keep their error in the thread's last-error code too.
    return static_cast<int>(GetLastError());
}

void PlatErrorText(int iError, char* pcBuf, std::size_t size)
{
    if (size == 0)
        return;
    char pcText[MESSAGE_MAX + 1];
    DWORD n = FormatMessageA(MESSAGE_FLAGS, nullptr, static_cast<DWORD>(iError), MESSAGE_LANGUAGE, pcText, MESSAGE_MAX,
                             nullptr);
    // The system's text ends with its own line end, which the caller adds.
    while (n > 0 && (pcText[n - 1] == '\n' || pcText[n - 1] == '\r'))
        --n;
    if (n == 0) {
        std::snprintf(pcBuf, size, "Error %d", iError);
        return;
    }
    pcText[n] = '\0';
    std::snprintf(pcBuf, size, "%s", pcText);
}

void PlatSleep(std::uint64_t ullMilliseconds)
{
    while (ullMilliseconds > 0) {
        DWORD dwNow = ullMilliseconds < INFINITE ? static_cast<DWORD>(ullMilliseconds) : INFINITE - 1;
        Sleep(dwNow);
        ullMilliseconds -= dwNow;
    }
}

std::uint64_t PlatNowMs(void)
{
    return GetTickCount64();
}

void PlatExit(int iStatus)
{
    // Not exit(): the other thread may still be running, and must not meet
    // objects that exit's clean-up has already torn down.
    std::fflush(nullptr);
    _exit(iStatus);
}

namespace {

void (*volatile lk_pfnOnTerminate)(void);

// Ctrl+C, Ctrl+Break, a closed console, log-off, shut-down: the handler runs,
// and returning FALSE lets the system end the process as it would have.
BOOL WINAPI ConsoleCtrl(DWORD /*dwType*/)
{
    lk_pfnOnTerminate();
    return FALSE;
}

}  // namespace

void PlatOnTerminate(void (*pfnHandler)(void))
{
    lk_pfnOnTerminate = pfnHandler;
    SetConsoleCtrlHandler(ConsoleCtrl, TRUE);
}

bool PlatThreadStart(PlatThread* pThread, void (*pfnBody)(void))
{
    HANDLE hThread = CreateThread(nullptr, 0, ThreadEntry, reinterpret_cast<LPVOID>(pfnBody), 0, nullptr);
    if (hThread == nullptr)
        return false;
    *pThread = reinterpret_cast<PlatThread>(hThread);
    return true;
}

void PlatThreadJoin(PlatThread thread)
{
    HANDLE hThread = reinterpret_cast<HANDLE>(thread);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
}

void PlatThreadDetach(PlatThread thread)
{
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

// A slim reader/writer lock is all zero bytes when unlocked (SRWLOCK_INIT),
// as a zeroed PlatLock is.
static_assert(sizeof(SRWLOCK) <= sizeof(PlatLock::pucData));

void PlatLockTake(PlatLock* psLock)
{
    AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(psLock->pucData));
}

void PlatLockGive(PlatLock* psLock)
{
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(psLock->pucData));
}

int PlatWrite(int fd, const void* pData, int len)
{
    return _write(fd, pData, static_cast<unsigned int>(len));
}

bool PlatIsTerminal(int fd)
{
    // A console, not merely a character device: _isatty also takes NUL.
    DWORD dwMode = 0;
    return GetConsoleMode(OsHandle(fd), &dwMode) != 0;
}

bool PlatClearScreen(int fd)
{
    if (!PlatIsTerminal(fd))
        return true;
    // The result of "cls" is not examined: the console is cleared or not.
    static_cast<void>(std::system("cls"));
    return true;
}

int PlatFileNo(std::FILE* pFile)
{
    return _fileno(pFile);
}

bool PlatSetBinary(int fd)
{
    return _setmode(fd, _O_BINARY) != -1;
}

bool PlatFileSize(int fd, std::uint64_t* pullSize)
{
    struct _stati64 sStat;
    if (_fstati64(fd, &sStat) != 0 || sStat.st_size < 0)
        return false;
    *pullSize = static_cast<std::uint64_t>(sStat.st_size);
    return true;
}

PlatFileKind PlatFileKindOf(int fd)
{
    struct _stati64 sStat;
    if (_fstati64(fd, &sStat) != 0)
        return PLAT_FILE_UNKNOWN;
    if ((sStat.st_mode & _S_IFMT) == _S_IFREG)
        return PLAT_FILE_REGULAR;
    return (sStat.st_mode & _S_IFMT) == _S_IFDIR ? PLAT_FILE_DIRECTORY : PLAT_FILE_OTHER;
}

bool PlatSameFile(int fd, const char* pcPath)
{
    if (IsClosed(fd))
        return false;
    // No access asked for: only the attributes are read; backup semantics
    // open a directory too.
    HANDLE hFile = CreateFileA(pcPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    const bool bSame = SameIdentity(OsHandle(fd), hFile);
    CloseHandle(hFile);
    return bSame;
}

int PlatAppendOpen(const char* pcPath)
{
    // Appending only: each WriteFile goes to the end of the file as one
    // piece, whoever else appends. The attributes are read by PlatSameFile.
    HANDLE hFile = CreateFileA(pcPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return -1;
    SetHandleInformation(hFile, HANDLE_FLAG_INHERIT, 0);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_APPEND | _O_BINARY);
    if (fd < 0)
        CloseHandle(hFile);
    return fd;
}

bool PlatAppendWrite(int fd, const void* pData, int len)
{
    DWORD dwWritten = 0;
    return WriteFile(OsHandle(fd), pData, static_cast<DWORD>(len), &dwWritten, nullptr) != 0 &&
           dwWritten == static_cast<DWORD>(len);
}

bool PlatGrowPipe(int /*fd*/, int /*size*/)
{
    // An anonymous pipe's size is set by whoever creates it.
    return false;
}

int PlatRead(int fd, void* pBuf, int size)
{
    return _read(fd, pBuf, static_cast<unsigned int>(size));
}

int PlatNetStartup(void)
{
    WSADATA sData;
    int iResult = WSAStartup(MAKEWORD(2, 2), &sData);
    // The result is the error; the reporter prints the last error's text.
    if (iResult != 0)
        SetLastError(static_cast<DWORD>(iResult));
    return iResult;
}

PlatSocket PlatSocketOpen(bool bUDP, const PlatAddr& sAddr)
{
    SOCKET socket = ::socket(NetAddrFamily(sAddr), bUDP ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET)
        return PLAT_NO_SOCKET;
    // Not inherited by the command interpreter that clears the console.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    if (bUDP) {
        // A datagram refused by the far side's port would otherwise fail the
        // next receive; an unconnected datagram socket takes no such report.
        BOOL bReport = FALSE;
        DWORD dwReturned = 0;
        WSAIoctl(socket, SIO_UDP_CONNRESET, &bReport, sizeof bReport, nullptr, 0, &dwReturned, nullptr, nullptr);
    }
    return static_cast<PlatSocket>(socket);
}

void PlatSocketClose(PlatSocket sock)
{
    closesocket(ToSocket(sock));
}

void PlatSocketFlush(PlatSocket sock, PlatReadNow pfnDiscard, std::uint64_t ullStallMs)
{
    // Windows cannot tell how much of the data the device has acknowledged.
    // Instead the close waits for it: with the linger time set, closesocket
    // returns once everything is delivered (or the time is up). Answers left
    // unread would make the close reset the connection, so they are dropped
    // until the device ends the connection or falls quiet.
    SOCKET socket = ToSocket(sock);
    if (shutdown(socket, SD_SEND) != 0)
        return;
    linger sLinger;
    sLinger.l_onoff = 1;
    sLinger.l_linger = static_cast<u_short>(ullStallMs / 1000 < 0xFFFF ? ullStallMs / 1000 : 0xFFFF);
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&sLinger), sizeof sLinger);
    if (pfnDiscard == nullptr)
        return;
    unsigned char pucBuf[4096];
    const std::uint64_t ullEnd = PlatNowMs() + ullStallMs;
    while (PlatNowMs() < ullEnd && SelectReadable(socket, FLUSH_QUIET_MS) == 1) {
        const int n = pfnDiscard(pucBuf, sizeof pucBuf);
        if (n == 0 || (n < 0 && n != PLAT_RECV_NONE))
            return;
    }
}

bool PlatSocketEndSending(PlatSocket sock)
{
    return shutdown(ToSocket(sock), SD_SEND) == 0;
}

PlatSendState PlatSocketSendState(PlatSocket sock)
{
    // Windows cannot tell which bytes the peer has acknowledged: only an error
    // that has shown (a reset) tells that they did not arrive.
    int iError = 0;
    int len = sizeof iError;
    if (getsockopt(ToSocket(sock), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&iError), &len) != 0 || iError != 0) {
        if (iError != 0)
            WSASetLastError(iError);
        return PLAT_SEND_FAILED;
    }
    return PLAT_SEND_DELIVERED;
}

void PlatSocketShutdown(PlatSocket sock)
{
    lk_bSocketShut = true;
    shutdown(ToSocket(sock), SD_BOTH);
}

bool PlatSocketNoDelay(PlatSocket sock)
{
    const BOOL bOn = TRUE;
    return setsockopt(ToSocket(sock), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOn), sizeof bOn) == 0;
}

// Windows has no per-socket switch for it.
bool PlatSocketAckNow(PlatSocket)
{
    return false;
}

void NetSetResolverError(int iResult)
{
    // The result is a Windows sockets error code.
    WSASetLastError(iResult);
}

bool PlatConnect(PlatSocket sock, const PlatAddr& sAddr)
{
    return connect(ToSocket(sock), SockAddr(sAddr), AddrLen(sAddr)) == 0;
}

namespace {

// Waits up to ullMilliseconds for a non-blocking connect to end; its outcome
// (0 or a Windows sockets error code).
int ConnectOutcome(SOCKET socket, std::uint64_t ullMilliseconds)
{
    fd_set sWrite;
    fd_set sFailed;
    FD_ZERO(&sWrite);
    FD_SET(socket, &sWrite);
    FD_ZERO(&sFailed);
    FD_SET(socket, &sFailed);
    const std::uint64_t ullMs = ullMilliseconds < 0x7FFFFFFF ? ullMilliseconds : 0x7FFFFFFF;
    timeval sLimit = {static_cast<long>(ullMs / 1000), static_cast<long>(ullMs % 1000) * 1000};
    const int iReady = select(0, nullptr, &sWrite, &sFailed, &sLimit);
    if (iReady == 0)
        return WSAETIMEDOUT;
    if (iReady == SOCKET_ERROR)
        return WSAGetLastError();
    int iError = 0;
    int len = sizeof iError;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&iError), &len) != 0)
        return WSAGetLastError();
    return iError;
}

}  // namespace

PlatConnectResult PlatConnectWithin(PlatSocket sock, const PlatAddr& sAddr, std::uint64_t ullMilliseconds)
{
    const SOCKET socket = ToSocket(sock);
    // FIONBIO is built as an unsigned value; ioctlsocket takes a long.
    const long lNonBlockingCommand = static_cast<long>(FIONBIO);
    u_long ulNonBlocking = 1;
    if (ioctlsocket(socket, lNonBlockingCommand, &ulNonBlocking) != 0)
        return PLAT_CONNECT_FAILED;
    int iError = connect(socket, SockAddr(sAddr), AddrLen(sAddr)) == 0 ? 0 : WSAGetLastError();
    if (iError == WSAEWOULDBLOCK)
        iError = ConnectOutcome(socket, ullMilliseconds);
    ulNonBlocking = 0;
    ioctlsocket(socket, lNonBlockingCommand, &ulNonBlocking);
    WSASetLastError(iError);
    if (iError == 0)
        return PLAT_CONNECTED;
    const bool bAgain = iError == WSAECONNREFUSED || iError == WSAENETUNREACH || iError == WSAEHOSTUNREACH ||
                        iError == WSAETIMEDOUT || iError == WSAENETDOWN || iError == WSAEHOSTDOWN;
    return bAgain ? PLAT_CONNECT_AGAIN : PLAT_CONNECT_FAILED;
}

int PlatSend(PlatSocket sock, const void* pData, int len)
{
    return send(ToSocket(sock), static_cast<const char*>(pData), len, 0);
}

int PlatSendFile(PlatSocket /*sock*/, int /*fd*/, int /*size*/)
{
    return PLAT_NO_SENDFILE;
}

int PlatSendTo(PlatSocket sock, const void* pData, int len, const PlatAddr& sAddr)
{
    return sendto(ToSocket(sock), static_cast<const char*>(pData), len, 0, SockAddr(sAddr), AddrLen(sAddr));
}

int PlatWaitReadable(PlatSocket sock, std::uint64_t ullMilliseconds)
{
    // A wait goes in short steps, so that a socket shut down by another thread
    // ends it: reading then meets the end.
    const std::uint64_t ullEnd = PlatNowMs() + ullMilliseconds;
    for (;;) {
        if (lk_bSocketShut.load())
            return 1;
        const std::uint64_t ullNow = PlatNowMs();
        const std::uint64_t ullLeft = ullMilliseconds == PLAT_WAIT_FOREVER ? SHUT_CHECK_MS
                                      : ullNow < ullEnd                    ? ullEnd - ullNow
                                                                           : 0;
        const DWORD dwStep = static_cast<DWORD>(ullLeft < SHUT_CHECK_MS ? ullLeft : SHUT_CHECK_MS);
        int iResult = SelectReadable(ToSocket(sock), dwStep);
        if (iResult != 0 || (ullMilliseconds != PLAT_WAIT_FOREVER && ullLeft <= dwStep))
            return iResult;
    }
}

int PlatRecv(PlatSocket sock, void* pBuf, int size)
{
    const int n = recv(ToSocket(sock), static_cast<char*>(pBuf), size, 0);
    return n < 0 && lk_bSocketShut.load() ? 0 : n;
}

int PlatRecvNow(PlatSocket sock, void* pBuf, int size)
{
    // The socket stays blocking for the sending thread: a look without waiting first.
    const int iReady = SelectReadable(ToSocket(sock), 0);
    return iReady < 0 ? -1 : iReady == 0 ? PLAT_RECV_NONE : PlatRecv(sock, pBuf, size);
}
