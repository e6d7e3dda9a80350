// The link to the device, whichever is in use: TCP, UDP (netlink.h) or a
// serial port (seriallink.h), each a set of operations (linkops.h) that
// LinkOpen picks once. Everything above asks this module, and asks for
// properties, not for the kind of link (the remote console frame aside).
#pragma once

#include <cstddef>
#include <cstdint>

#include "linkops.h"

// Opens the link that the settings select; from then on every end of the
// process releases it. Failures end the process.
void LinkOpen(void);

// True when the link is a serial port: the remote console frame names it.
bool LinkIsSerial(void);

// What a block sent is: input, or a frame of morlink's own; counted apart.
enum LinkBytes {
    LINK_INPUT,
    LINK_FRAME,
};

// Sends len bytes as one write on the serial port, one TCP send or one UDP
// datagram. Anything but all of them sent ends the process (code 251).
void SendData(const unsigned char* pucData, int len, LinkBytes eBytes);

// True for a TCP connection: a stream of bytes, where the device cannot tell
// where one send ends and the next begins.
bool LinkIsStream(void);

// On a stream, sends up to iMax bytes of the file open on fd inside the
// system: the count (0 at the end of the file), or LINK_NO_SENDFILE where the
// system cannot, or where every byte must pass through the program (a trace).
// Failures end the process (code 251).
int LinkSendFile(int fd, int iMax);

// True when silence in keep-alive mode is bridged by the keep-alive byte (TCP
// and UDP); false when it is reported at once (a serial port).
bool LinkHasKeepAlive(void);

// The keep-alive byte (one space) once all input is sent: false when it could
// not be sent (always on UDP, whose socket has no connection). Once -e has
// ended the sending direction of a TCP connection, nothing is sent and the
// answer is true.
bool LinkKeepAlive(void);

// Waits up to the receive time-out for the device's answers and reads up to
// iSize of them into pucBuf, *piCount bytes. Failures end the process
// (code 250).
LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount);

// The receiver thread has stopped reading the link.
void LinkStopReceiving(void);

// From the main thread, when the run ends while the receiver may wait for
// answers: lets go of the link (the end hook), which ends that wait. An empty
// read that follows is no end of the device's and is not traced.
void LinkEndWaits(void);

// -e: after the last byte, waits up to lk_ulConfirmSeconds for the device to
// confirm the job: on TCP by acknowledging every byte and closing the
// connection in order (read by the receiver thread while it reads, else read
// and dropped here), on a serial port by the port having sent every byte.
// True when confirmed (UDP has nothing to confirm: true), false when the time is up;
// a reset or a socket error is a failed send (251). From then on the TCP
// keep-alive sends nothing.
bool LinkConfirmEnd(void);

// Sees everything sent delivered, leaving the link open for the receiver.
void LinkFinishSending(void);

// Closes the link.
void LinkClose(void);

// What went over the link so far, counted from the calls' results as soon as
// each returns (before the trace is written): input bytes, bytes of frames and
// keep-alive bytes, and bytes received (also those read and dropped while
// waiting for the device's close or at the close).
struct LinkCounts {
    std::uint64_t ullInput;
    std::uint64_t ullFrames;
    std::uint64_t ullReceived;
};
LinkCounts LinkCounted(void);

// True when -e has something to confirm on the link that is open or that the
// settings select (not on UDP).
bool LinkConfirms(void);

// The link that is open, or that the settings select before it opens: its
// name ("tcp", "udp", "serial"), the device's name in pcDevice (the address
// or host name; the name the serial port is opened by), and the port number,
// or LINK_NO_PORT on a serial port.
int LinkDescribe(const char** ppcName, char* pcDevice, std::size_t size);
