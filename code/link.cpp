// The link in use: network or serial port, chosen once when it opens.
#include "link.h"

#include <atomic>
#include <cstdio>

#include "ending.h"
#include "errors.h"
#include "netlink.h"
#include "seriallink.h"
#include "settings.h"

namespace {

constexpr int SERIAL_READ_SIZE = 1024;

bool lk_bSerial;
// Set by the receiver thread: the device closed the connection; the receiver
// reads no more.
std::atomic<bool> lk_bPeerClosed{false};
std::atomic<bool> lk_bReceiverGone{false};

// Receives first and waits only when nothing is there, so that a flowing
// answer costs one call per receive; the wait is the whole time-out, counted
// from the last data (the previous receive).
int ReceiveNetwork(unsigned char* pucBuf, int iSize, LinkInput* peInput)
{
    int n = PlatRecvNow(lk_socketClient, pucBuf, iSize);
    if (n == PLAT_RECV_NONE) {
        const std::uint64_t ullWait = lk_ulTimeout != 0 ? std::uint64_t{lk_ulTimeout} * 1000 : PLAT_WAIT_FOREVER;
        const int iReady = PlatWaitReadable(lk_socketClient, ullWait);
        if (iReady < 0)
            HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
        if (iReady == 0) {
            *peInput = LINK_SILENCE;
            return 0;
        }
        n = PlatRecv(lk_socketClient, pucBuf, iSize);
    }
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    // An empty datagram is no end: UDP has no connection to close.
    *peInput = n > 0 ? LINK_DATA : lk_bUDP ? LINK_NOTHING : LINK_CLOSED;
    if (*peInput == LINK_CLOSED)
        lk_bPeerClosed = true;
    return n;
}

// The port's read time-outs bound each read; with a receive time-out, a read
// that brings nothing is the silence.
int ReceiveSerial(unsigned char* pucBuf, int iSize, LinkInput* peInput)
{
    // The port's read rules count the bytes asked for: one piece at a time.
    const int n = SerialRead(lk_handleSerial, pucBuf, iSize < SERIAL_READ_SIZE ? iSize : SERIAL_READ_SIZE);
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    *peInput = n > 0 ? LINK_DATA : lk_ulTimeout != 0 ? LINK_SILENCE : LINK_NOTHING;
    return n;
}

[[noreturn]] void ConfirmTimeout(void)
{
    HandleError(ERR_TIMEOUT, ERR_TIMEOUT, __FILE__, __LINE__, nullptr);
    EndProcess(ERR_TIMEOUT);
}

// The device's close, as the receiver thread sees it; without a receiver, or
// once it reads no more, read here for the time left.
PlatPeerEnd AwaitDeviceClose(std::uint64_t ullEnd)
{
    for (;;) {
        if (lk_bPeerClosed)
            return PLAT_PEER_CLOSED;
        const std::uint64_t ullNow = PlatNowMs();
        if (ullNow >= ullEnd)
            return PLAT_PEER_SILENT;
        if (!lk_bRecv || lk_bReceiverGone)
            return PlatAwaitClose(lk_socketClient, ullEnd - ullNow);
        PlatSleep(10);
    }
}

// Ends the sending direction, then waits for the device's close. Answers that
// come meanwhile are read: by the receiver when there is one, else here, and
// dropped, so that they cannot reset the connection.
void ConfirmTcpEnd(std::uint64_t ullMs)
{
    const std::uint64_t ullEnd = PlatNowMs() + ullMs;
    PlatSocketFlush(lk_socketClient, false, ullMs);
    const PlatPeerEnd eEnd = AwaitDeviceClose(ullEnd);
    if (eEnd == PLAT_PEER_RESET)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    if (eEnd == PLAT_PEER_SILENT)
        ConfirmTimeout();
}

void ConfirmSerialEnd(std::uint64_t ullMs)
{
    const int iResult = SerialDrain(lk_handleSerial, ullMs);
    if (iResult < 0)
        HandleError(ERR_SEND, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    if (iResult == 0)
        ConfirmTimeout();
}

}  // namespace

void LinkOpen(void)
{
    lk_bSerial = lk_itfUsed != 0;
    AtEnd(lk_bSerial ? ReleaseSerial : ShutdownNetwork);
    if (lk_bSerial)
        InitSerial();
    else
        InitNetwork();
}

bool LinkIsSerial(void)
{
    return lk_bSerial;
}

void SendData(const unsigned char* pucData, int len)
{
    int iCount;
    if (lk_bSerial)
        iCount = SerialWrite(lk_handleSerial, pucData, len);
    else if (lk_bUDP)
        iCount = PlatSendTo(lk_socketClient, pucData, len, lk_sServAddr);
    else
        iCount = PlatSend(lk_socketClient, pucData, len);

    // A failed system call on the port: its own text, taken before anything
    // else (the debug dot) can change the last error.
    if (iCount == SERIAL_SYSTEM_FAILURE && lk_bSerial)
        HandleError(ERR_SEND, REASON_SYSTEM, __FILE__, __LINE__, nullptr);

    if (gl_bDebug)
        std::fputc('.', stderr);

    // A failed or partial send is not retried.
    if (iCount != len)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

bool LinkIsStream(void)
{
    return !lk_bSerial && !lk_bUDP;
}

int LinkSendFile(int fd, int iMax)
{
    const int n = PlatSendFile(lk_socketClient, fd, iMax);
    if (n == -1)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    return n == PLAT_NO_SENDFILE ? LINK_NO_SENDFILE : n;
}

bool LinkKeepAlive(void)
{
    return PlatSend(lk_socketClient, " ", 1) == 1;
}

LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    LinkInput eInput;
    *piCount = lk_bSerial ? ReceiveSerial(pucBuf, iSize, &eInput) : ReceiveNetwork(pucBuf, iSize, &eInput);
    return eInput;
}

void LinkStopReceiving(void)
{
    lk_bReceiverGone = true;
}

void LinkConfirmEnd(void)
{
    const std::uint64_t ullMs = std::uint64_t{lk_ulConfirmSeconds} * 1000;
    if (lk_bSerial)
        ConfirmSerialEnd(ullMs);
    else if (!lk_bUDP)
        ConfirmTcpEnd(ullMs);
}

void LinkFinishSending(void)
{
    if (!lk_bSerial)
        FlushNetwork();
}

void LinkClose(void)
{
    if (lk_bSerial)
        CloseSerial();
    else
        CloseNetwork();
}
