// One kind of link as the link module (link.cpp) drives it: its operations,
// the types they use, and what the layers above need to know of it.
// netlink.cpp provides the operations of TCP and UDP, seriallink.cpp those of
// the serial port; LinkOpen picks one set for the run, and every other Link*
// call goes through it. Each operation is what the link.h function of the same
// name says; one that a link has no use for does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

// What one wait for the device's answers brought.
enum LinkInput {
    LINK_DATA,     // bytes came
    LINK_SILENCE,  // the receive time-out passed with nothing
    LINK_NOTHING,  // a read ended with nothing before any time-out: wait again
    LINK_CLOSED,   // the device closed the connection
};

// The answer of a copy inside the system where the system cannot make one.
constexpr int LINK_NO_SENDFILE = -2;

// The port number of a link that has none (a serial port).
constexpr int LINK_NO_PORT = -1;

// The keep-alive byte: one space.
constexpr unsigned char LINK_KEEP_ALIVE = ' ';

// A read without waiting (pfnReadNow), and its answer when nothing is there.
using LinkReadNow = int (*)(unsigned char* pucBuf, int iSize);
constexpr int LINK_READ_NONE = -2;

struct LinkOps {
    // Opens the link from the settings. Failures end the process.
    void (*pfnOpen)(void);
    // One write, send or datagram of len bytes: the count sent, or negative.
    // The count check and its report are SendData's; a failure that the link
    // reports with its own text ends the process here.
    int (*pfnSend)(const unsigned char* pucData, int len);
    // LinkSendFile, on a stream.
    int (*pfnSendFile)(int fd, int iMax);
    // LinkReceive.
    LinkInput (*pfnReceive)(unsigned char* pucBuf, int iSize, int* piCount);
    // The keep-alive byte LINK_KEEP_ALIVE, when bKeepAlive: 1 when it was
    // sent, 0 when none needs to be (LinkKeepAlive), negative when it could
    // not be sent.
    int (*pfnKeepAlive)(void);
    // One read of what has arrived, without waiting: the count, 0 at the end
    // of the connection, LINK_READ_NONE when nothing is there, negative on a
    // failure. The reads that drop the device's answers beneath the end of a
    // connection go through it, as the operations below are given it; null
    // where nothing is read that way.
    LinkReadNow pfnReadNow;
    // LinkStopReceiving.
    void (*pfnStopReceiving)(void);
    // -e: waits up to ullMs for the device to confirm the end: true once it
    // has, false when the time passed first. A failure ends the process.
    // Answers that nobody else reads meanwhile are read by pfnRead, the
    // link's pfnReadNow as the link module uses it.
    bool (*pfnConfirmEnd)(std::uint64_t ullMs, LinkReadNow pfnRead);
    // LinkFinishSending.
    void (*pfnFinishSending)(void);
    // LinkClose; answers still coming meanwhile are read by pfnRead, as for
    // pfnConfirmEnd.
    void (*pfnClose)(LinkReadNow pfnRead);
    // The end hook (ending.h) that lets go of the link at every end. It also
    // ends a wait for the device's answers on another thread.
    void (*pfnRelease)(void);
    // LinkDescribe: the device's name from the settings into pcDevice, and
    // the port number, or LINK_NO_PORT.
    int (*pfnDescribe)(char* pcDevice, std::size_t size);

    // "tcp", "udp" or "serial".
    const char* pcName;

    // A stream of bytes (TCP), where the device cannot tell sends apart.
    bool bStream;
    // A serial port: the remote console frame names the serial link.
    bool bSerial;
    // Silence in keep-alive mode (-r*): true, the keep-alive byte is sent once
    // all input is sent and silence is reported only when it cannot be; false,
    // silence is reported at once, as without keep-alive.
    bool bKeepAlive;
    // -e has something to confirm: the device's close, or the port's having
    // sent everything. False where nothing can be confirmed (UDP).
    bool bConfirms;
    // A receive that brings no byte has read something: the end of the
    // connection, or an empty datagram. False where a read may simply end
    // with nothing (a serial port's read time-outs).
    bool bEmptyReads;
};

// For the operations that a link has no use for.
inline void LinkNoAction(void)
{}
inline int LinkNoSendFile(int, int)
{
    return LINK_NO_SENDFILE;
}
