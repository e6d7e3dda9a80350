// One kind of link as the link module (link.cpp) drives it: its operations
// and what the layers above need to know of it. netlink.cpp provides TCP and
// UDP, seriallink.cpp the serial port; LinkOpen picks one record for the run,
// and every other Link* call goes through it. Each operation is what the link.h
// function of the same name says; one that a link has no use for does nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link.h"

// Bytes that a link reads and drops by itself (answers during the wait for
// the device's close, or at the close): the operations add them here as they
// read them, so that a run that ends half-way still counts them.
using LinkTally = std::atomic<std::uint64_t>;

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
    // The keep-alive byte, when bKeepAlive: 1 when it was sent, 0 when none
    // needs to be, -1 when it could not be sent.
    int (*pfnKeepAlive)(void);
    // LinkStopReceiving.
    void (*pfnStopReceiving)(void);
    // -e: waits up to ullMs for the device to confirm the end: true once it
    // has, false when the time passed first. A failure ends the process.
    // Answers read and dropped meanwhile are added to *psDropped.
    bool (*pfnConfirmEnd)(std::uint64_t ullMs, LinkTally* psDropped);
    // LinkFinishSending.
    void (*pfnFinishSending)(void);
    // LinkClose; answers read and dropped at the close are added to *psDropped.
    void (*pfnClose)(LinkTally* psDropped);
    // The end hook (ending.h) that lets go of the link at every end.
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
};

// For the operations that a link has no use for.
inline void LinkNoAction(void)
{}
inline int LinkNoSendFile(int, int)
{
    return LINK_NO_SENDFILE;
}
