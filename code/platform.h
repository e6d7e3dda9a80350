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

// An IPv4 address (4 bytes in network byte order, as on the wire) and a port
// (host byte order).
struct PlatAddrIPv4 {
    std::uint32_t ulAddr;
    std::uint16_t usPort;
};

// Text of an IPv4 address in dotted-decimal form needs at most this many bytes.
constexpr std::size_t PLAT_ADDR_TEXT_SIZE = 16;

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
// a termination request, a hang-up of its terminal), then lets the request end
// the process as it would have without the handler. pfnHandler runs in a
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

// Reads up to size bytes from fd; the count read, 0 at the end, negative on error.
int PlatRead(int fd, void* pBuf, int size);

// Starts the socket layer; 0 or the layer's error code.
int PlatNetStartup(void);

// A new IPv4 socket, datagram (bUDP) or stream; PLAT_NO_SOCKET on failure.
PlatSocket PlatSocketOpen(bool bUDP);
void PlatSocketClose(PlatSocket sock);
// Ends the sending direction of a connection once everything sent so far has
// gone out, and waits until the device has acknowledged all of it, so that
// closing the socket cannot cut the data short. What the device still sends
// meanwhile is read and dropped when bDiscard is set (else another thread
// reads it). Gives up after ullStallMs without progress.
void PlatSocketFlush(PlatSocket sock, bool bDiscard, std::uint64_t ullStallMs);
// Ends both directions of a connection but keeps the socket open, so that
// another thread still using it meets an error rather than a reused descriptor.
void PlatSocketShutdown(PlatSocket sock);

// A dotted-decimal address into *pulAddr; false when pcText is none.
bool PlatParseIPv4(const char* pcText, std::uint32_t* pulAddr);

// First IPv4 address of a host name into *pulAddr; false when the name does not
// resolve, leaving the resolver's error as the last error.
bool PlatResolveIPv4(const char* pcName, std::uint32_t* pulAddr);

// Dotted-decimal text of an address, at most PLAT_ADDR_TEXT_SIZE bytes.
void PlatIPv4Text(std::uint32_t ulAddr, char* pcBuf, std::size_t size);

// Blocking connect; false on failure.
bool PlatConnect(PlatSocket sock, const PlatAddrIPv4& sAddr);

// One send on a connected socket, or one datagram to sAddr: the count sent or -1.
// Neither raises a signal when the peer has reset the connection.
int PlatSend(PlatSocket sock, const void* pData, int len);
int PlatSendTo(PlatSocket sock, const void* pData, int len, const PlatAddrIPv4& sAddr);

// No time limit for PlatWaitReadable.
constexpr std::uint64_t PLAT_WAIT_FOREVER = UINT64_MAX;

// Waits until the socket has data (or its end) to read: 1 when it has, 0 when
// ullMilliseconds passed first, -1 on failure.
int PlatWaitReadable(PlatSocket sock, std::uint64_t ullMilliseconds);

// One receive of up to size bytes: the count, 0 at the end of a connection (or
// an empty datagram), or -1.
int PlatRecv(PlatSocket sock, void* pBuf, int size);
