// The operating-system layer of morlink: process set-up, error texts, files in
// binary mode, sockets. The sender's logic calls only these functions, so another
// system needs only another implementation of this header (platform_linux.cpp,
// platform_win32.cpp). The serial port gets its own layer (serial.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A socket of the network link; PLAT_NO_SOCKET when none is open.
using PlatSocket = std::intptr_t;
constexpr PlatSocket PLAT_NO_SOCKET = -1;

// A socket address of either family, IPv4 or IPv6, as the system's socket
// calls take it: ulLen bytes of pucData.
struct PlatAddr {
    alignas(8) unsigned char pucData[128];
    std::uint32_t ulLen;
};

// Text of an address needs at most this many bytes.
constexpr std::size_t PLAT_ADDR_TEXT_SIZE = 64;

// The most addresses of one host name that are tried.
constexpr int PLAT_ADDR_MAX = 16;

// Process start: opens each closed standard descriptor (0, 1, 2) on the null
// device, so that no file or socket takes its place, and makes a write to a
// closed pipe or socket fail with an error instead of ending the process.
void PlatInitProcess(void);

// True for the characters that separate directories in a program path.
bool PlatIsSeparator(char c);

// Directory of the running executable, without a trailing separator, into
// pcBuf. False when the system cannot tell it or it does not fit.
bool PlatProgramDir(char* pcBuf, std::size_t size);

// The calling thread's last-error code: what the last failed platform or C
// library call left behind.
int PlatLastError(void);

// The system's own text for a last-error code, without a line end.
void PlatErrorText(int iError, char* pcBuf, std::size_t size);

void PlatSleep(std::uint64_t ullMilliseconds);

// Milliseconds on a clock that only moves forward.
std::uint64_t PlatNowMs(void);

// Ends the process at once with iStatus, from any thread: standard streams are
// flushed, nothing else of the program runs any more.
[[noreturn]] void PlatExit(int iStatus);

// Calls pfnHandler when the process is asked to end from outside (an interrupt,
// a quit, a termination request, a hang-up of its terminal, a timer, a limit or
// a user's signal; not a fault), then lets the request end the process as it
// would have without the handler. pfnHandler runs in a
// signal handler: only async-signal-safe calls.
void PlatOnTerminate(void (*pfnHandler)(void));

// A second thread of the program.
using PlatThread = std::uintptr_t;
// Starts pfnBody on a new thread; false when it cannot be started.
bool PlatThreadStart(PlatThread* pThread, void (*pfnBody)(void));
// Waits until the thread has ended.
void PlatThreadJoin(PlatThread thread);
// Lets the thread end by itself, never waited for.
void PlatThreadDetach(PlatThread thread);

// A lock that both threads may take. A PlatLock with static storage (all
// zero) is ready to use; it is never destroyed.
struct PlatLock {
    alignas(16) unsigned char pucData[64];
};
void PlatLockTake(PlatLock* psLock);
void PlatLockGive(PlatLock* psLock);

// Writes up to len bytes to fd, unbuffered: the count written, or -1.
int PlatWrite(int fd, const void* pData, int len);

// Writes all len bytes with as many calls of pfnWrite (a write like PlatWrite)
// as it takes: len, or the count written before a call failed or wrote nothing.
inline int PlatWriteAll(int (*pfnWrite)(int, const void*, int), int fd, const void* pData, int len)
{
    const auto* puc = static_cast<const unsigned char*>(pData);
    int iDone = 0;
    while (iDone < len) {
        const int n = pfnWrite(fd, puc + iDone, len - iDone);
        if (n <= 0)
            break;
        iDone += n;
    }
    return iDone;
}

// True when fd is a terminal or console.
bool PlatIsTerminal(int fd);

// Clears the terminal or console that fd writes to; a file or a pipe is left
// alone. False when that fails.
bool PlatClearScreen(int fd);

// Descriptor of an open C stream.
int PlatFileNo(std::FILE* pFile);

// Puts a descriptor into binary mode: no translation of line ends, no
// end-of-file character. False on failure.
bool PlatSetBinary(int fd);

// Size in bytes of the file open on fd. False when the system cannot tell.
bool PlatFileSize(int fd, std::uint64_t* pullSize);

// What is open on fd: a regular file, a directory, or anything else (a device,
// a pipe, a socket). PLAT_FILE_UNKNOWN when the system cannot tell.
enum PlatFileKind {
    PLAT_FILE_REGULAR,
    PLAT_FILE_DIRECTORY,
    PLAT_FILE_OTHER,
    PLAT_FILE_UNKNOWN
};
PlatFileKind PlatFileKindOf(int fd);

// True when pcPath names the very file open on fd, by the system's file
// identity (device and inode, or volume and file index), whatever the names.
// False when pcPath names no file or either cannot be examined.
bool PlatSameFile(int fd, const char* pcPath);

// Opens pcPath for appending, created if missing: a descriptor, or -1 with
// the reason as the last error. Every write goes to the file's end as one
// piece, also when other processes append to the same file at once.
int PlatAppendOpen(const char* pcPath);

// One write of all len bytes to the end of a file opened by PlatAppendOpen,
// and, where the system writes fewer, further writes of the rest: false when
// one failed (the last error tells).
bool PlatAppendWrite(int fd, const void* pData, int len);

// Lets a pipe open on fd hold up to size bytes, so that its writer and reader
// change turns less often. False where fd is no pipe or the system keeps its size.
bool PlatGrowPipe(int fd, int size);

// Reads up to size bytes from fd; the count read, 0 at the end, negative on error.
int PlatRead(int fd, void* pBuf, int size);

// Starts the socket layer; 0 or the layer's error code.
int PlatNetStartup(void);

// A new socket for the family of sAddr, datagram (bUDP) or stream;
// PLAT_NO_SOCKET on failure.
PlatSocket PlatSocketOpen(bool bUDP, const PlatAddr& sAddr);
void PlatSocketClose(PlatSocket sock);
// A read of what has arrived on a socket, without waiting, as PlatRecvNow
// reads it; the caller's own, so that what it reads goes its own way.
using PlatReadNow = int (*)(unsigned char* pucBuf, int size);

// Ends the sending direction of a connection once everything sent so far has
// gone out, and waits until the device has acknowledged all of it, so that
// closing the socket cannot cut the data short. What the device still sends
// meanwhile is read by pfnDiscard and dropped; with null another thread reads
// it. Gives up after ullStallMs without progress.
void PlatSocketFlush(PlatSocket sock, PlatReadNow pfnDiscard, std::uint64_t ullStallMs);
// Ends the sending direction of a connection; false when the system refuses
// (the connection is already gone), with the reason as the last error.
bool PlatSocketEndSending(PlatSocket sock);

// What became of the bytes sent on a connection.
enum PlatSendState {
    PLAT_SEND_DELIVERED,  // the peer has acknowledged every byte (where the
                          // system cannot tell: no error has shown)
    PLAT_SEND_PENDING,    // bytes are still on their way
    PLAT_SEND_FAILED,     // a reset or another socket error (the last error tells)
};
PlatSendState PlatSocketSendState(PlatSocket sock);

// Ends both directions of a connection but keeps the socket open, so that
// another thread still using it meets an error rather than a reused descriptor.
void PlatSocketShutdown(PlatSocket sock);

// Sends every small piece on a connection at once instead of holding it until
// the peer has acknowledged the last one: for a link whose short commands
// wait for short replies. False when the system refuses.
bool PlatSocketNoDelay(PlatSocket sock);

// Acknowledges what has arrived on a connection at once, for the next
// receives too, instead of after the system's delay: a peer that holds small
// pieces until the last one is acknowledged then sends on without a pause.
// False where the system cannot.
bool PlatSocketAckNow(PlatSocket sock);

// The addresses of pcHost with port usPort, in the order to try them, into
// psAddrs (at most iMax): a dotted IPv4 address as it stands; an IPv6 address
// (also with a scope, fe80::1%eth0); else the host name's IPv4 addresses, or
// when it has none, its IPv6 ones. Returns their count; 0 when the name does
// not resolve, with the resolver's error as the last error.
int PlatResolve(const char* pcHost, std::uint16_t usPort, PlatAddr* psAddrs, int iMax);

// The address without its port, as text (dotted IPv4, or IPv6).
void PlatAddrText(const PlatAddr& sAddr, char* pcBuf, std::size_t size);

// Blocking connect; false on failure.
bool PlatConnect(PlatSocket sock, const PlatAddr& sAddr);

enum PlatConnectResult {
    PLAT_CONNECTED,
    PLAT_CONNECT_AGAIN,   // the device cannot be reached now: refused, unreachable, no answer in time
    PLAT_CONNECT_FAILED,  // any other failure
};

// Connects, giving up after ullMilliseconds (with the last error ETIMEDOUT or
// its system's equal). The last error tells why it failed.
PlatConnectResult PlatConnectWithin(PlatSocket sock, const PlatAddr& sAddr, std::uint64_t ullMilliseconds);

// Sends up to size bytes of the file open on fd, from its position, on a
// connected stream socket, inside the system: the count sent (0 at the end of
// the file), -1 on failure, or PLAT_NO_SENDFILE where the system cannot.
constexpr int PLAT_NO_SENDFILE = -2;
int PlatSendFile(PlatSocket sock, int fd, int size);

// One send on a connected socket, or one datagram to sAddr: the count sent or -1.
// Neither raises a signal when the peer has reset the connection.
int PlatSend(PlatSocket sock, const void* pData, int len);
int PlatSendTo(PlatSocket sock, const void* pData, int len, const PlatAddr& sAddr);

// No time limit for PlatWaitReadable.
constexpr std::uint64_t PLAT_WAIT_FOREVER = UINT64_MAX;

// Waits until the socket has data (or its end) to read: 1 when it has, 0 when
// ullMilliseconds passed first, -1 on failure.
int PlatWaitReadable(PlatSocket sock, std::uint64_t ullMilliseconds);

// One receive of up to size bytes: the count, 0 at the end of a connection (or
// an empty datagram), or -1.
int PlatRecv(PlatSocket sock, void* pBuf, int size);

// One receive of up to size bytes that does not wait: as PlatRecv, or
// PLAT_RECV_NONE when nothing is there yet.
constexpr int PLAT_RECV_NONE = -2;
int PlatRecvNow(PlatSocket sock, void* pBuf, int size);
