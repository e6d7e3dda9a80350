// Network link: the operations of TCP and UDP. Opening the socket, sending and
// receiving on it, ending and closing the connection.
#include "netlink.h"

#include <atomic>
#include <cstdio>

#include "errors.h"
#include "retry.h"
#include "settings.h"
#include "stderrline.h"

namespace {

// How long the end of a connection waits for a device that takes no data.
constexpr std::uint64_t FLUSH_STALL_MS = 10000;

PlatSocket lk_socketClient = PLAT_NO_SOCKET;
// The device's address and port in use.
PlatAddr lk_sServAddr;

// The device's addresses, in the order they are tried.
PlatAddr lk_sAddrs[PLAT_ADDR_MAX];
int lk_iAddrs;
int lk_iShown = -1;  // the address that the debug line named last

// The device's addresses: pcHost as an address, else resolved as a host name;
// a name that does not resolve ends the process (253).
void ResolveServer(const char* pcHost, std::uint16_t usPort)
{
    lk_iAddrs = PlatResolve(pcHost, usPort, lk_sAddrs, PLAT_ADDR_MAX);
    if (lk_iAddrs == 0)
        HandleError(ERR_RESOLVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
}

// A new socket for address i, which becomes the address in use: a datagram
// socket (bUDP) or a stream socket.
void OpenSocket(int i, bool bUDP)
{
    lk_sServAddr = lk_sAddrs[i];
    lk_socketClient = PlatSocketOpen(bUDP, lk_sServAddr);
    if (lk_socketClient == PLAT_NO_SOCKET)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    if (gl_bDebug && lk_iShown != i) {
        char pcAddr[PLAT_ADDR_TEXT_SIZE];
        PlatAddrText(lk_sServAddr, pcAddr, sizeof pcAddr);
        StderrPrint("IP Address: %s\n", pcAddr);
        lk_iShown = i;
    }
}

// Tries every address once, in order, each socket a new one; true when one
// connects. A failed socket is closed only when another follows it, so that
// the last error stays the last attempt's.
bool ConnectOnce(const RetryClock* psClock)
{
    for (int i = 0; i < lk_iAddrs; ++i) {
        if (lk_socketClient != PLAT_NO_SOCKET)
            PlatSocketClose(lk_socketClient);
        lk_socketClient = PLAT_NO_SOCKET;
        OpenSocket(i, false);
        if (psClock == nullptr) {
            if (PlatConnect(lk_socketClient, lk_sServAddr))
                return true;
            continue;
        }
        const PlatConnectResult eResult = PlatConnectWithin(lk_socketClient, lk_sServAddr, RetryAttemptMs(*psClock));
        if (eResult == PLAT_CONNECTED)
            return true;
        if (eResult == PLAT_CONNECT_FAILED)
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    }
    return false;
}

// TCP: the first address that takes the connection. With psClock (-w), a
// device that cannot be reached is tried again until its time is up.
void Connect(RetryClock* psClock)
{
    if (psClock == nullptr) {
        if (!ConnectOnce(nullptr))
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
        return;
    }
    while (!ConnectOnce(psClock))
        if (!RetryPause(psClock))
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
}

// Set by the receiver thread: the device closed the connection; the receiver
// reads no more.
std::atomic<bool> lk_bPeerClosed{false};
std::atomic<bool> lk_bReceiverGone{false};
// Set once -e has ended the sending direction: no keep-alive byte can go out.
std::atomic<bool> lk_bSendingEnded{false};

// How often the wait for the device's confirmation looks at the connection.
constexpr std::uint64_t CONFIRM_POLL_MS = 10;

int SendTcp(const unsigned char* pucData, int len)
{
    return PlatSend(lk_socketClient, pucData, len);
}

// UDP stays unconnected: every block goes to the address in use as a datagram.
int SendUdp(const unsigned char* pucData, int len)
{
    return PlatSendTo(lk_socketClient, pucData, len, lk_sServAddr);
}

int SendFileTcp(int fd, int iMax)
{
    const int n = PlatSendFile(lk_socketClient, fd, iMax);
    if (n == -1)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    return n == PLAT_NO_SENDFILE ? LINK_NO_SENDFILE : n;
}

// Receives first and waits only when nothing is there, so that a flowing
// answer costs one call per receive; the wait is the whole time-out, counted
// from the last data (the previous receive). eEmpty is what a receive that
// brings no byte means.
LinkInput ReceiveNetwork(unsigned char* pucBuf, int iSize, int* piCount, LinkInput eEmpty)
{
    *piCount = 0;
    int n = PlatRecvNow(lk_socketClient, pucBuf, iSize);
    if (n == PLAT_RECV_NONE) {
        const std::uint64_t ullWait = lk_ulTimeout != 0 ? std::uint64_t{lk_ulTimeout} * 1000 : PLAT_WAIT_FOREVER;
        const int iReady = PlatWaitReadable(lk_socketClient, ullWait);
        if (iReady < 0)
            HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
        if (iReady == 0)
            return LINK_SILENCE;
        n = PlatRecv(lk_socketClient, pucBuf, iSize);
    }
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    *piCount = n;
    return n > 0 ? LINK_DATA : eEmpty;
}

LinkInput ReceiveTcp(unsigned char* pucBuf, int iSize, int* piCount)
{
    const LinkInput eInput = ReceiveNetwork(pucBuf, iSize, piCount, LINK_CLOSED);
    if (eInput == LINK_CLOSED)
        lk_bPeerClosed = true;
    return eInput;
}

// An empty datagram is no end: UDP has no connection to close.
LinkInput ReceiveUdp(unsigned char* pucBuf, int iSize, int* piCount)
{
    return ReceiveNetwork(pucBuf, iSize, piCount, LINK_NOTHING);
}

// One space. The UDP socket has no connection, so there the send fails and
// the silence is reported.
int KeepAliveNetwork(void)
{
    return PlatSend(lk_socketClient, &LINK_KEEP_ALIVE, 1) == 1 ? 1 : -1;
}

// Once -e has ended the sending direction nothing can be sent, and nothing
// needs to be: the connection stays open for the device's answers.
int KeepAliveTcp(void)
{
    return lk_bSendingEnded ? 0 : KeepAliveNetwork();
}

static_assert(LINK_READ_NONE == PLAT_RECV_NONE);

int ReadNowTcp(unsigned char* pucBuf, int iSize)
{
    return PlatRecvNow(lk_socketClient, pucBuf, iSize);
}

void StopReceivingTcp(void)
{
    lk_bReceiverGone = true;
}

// The device's answers during the wait for its close: read by the receiver
// thread while it reads, else read here by pfnRead and dropped, so that they
// cannot reset the connection. Waits up to ullMs for them; a reset is a failed
// send.
void TakeAnswers(std::uint64_t ullMs, LinkReadNow pfnRead)
{
    if ((lk_bRecv && !lk_bReceiverGone) || lk_bPeerClosed) {
        PlatSleep(ullMs);
        return;
    }
    if (PlatWaitReadable(lk_socketClient, ullMs) != 1)
        return;
    unsigned char pucBuf[4096];
    const int n = pfnRead(pucBuf, sizeof pucBuf);
    if (n == 0)
        lk_bPeerClosed = true;
    else if (n < 0 && n != LINK_READ_NONE)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

// Ends the sending direction, then waits for the device to confirm the job:
// it has closed its side and acknowledged every byte, with no error on the
// way. ullMs bounds the whole wait; when it is up, the connection's state is
// read once more. A reset or a socket error at any point is a failed send.
bool ConfirmTcpEnd(std::uint64_t ullMs, LinkReadNow pfnRead)
{
    const std::uint64_t ullEnd = PlatNowMs() + ullMs;
    lk_bSendingEnded = true;
    if (!PlatSocketEndSending(lk_socketClient))
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    for (;;) {
        const std::uint64_t ullNow = PlatNowMs();
        const std::uint64_t ullLeft = ullNow < ullEnd ? ullEnd - ullNow : 0;
        TakeAnswers(ullLeft < CONFIRM_POLL_MS ? ullLeft : CONFIRM_POLL_MS, pfnRead);
        const PlatSendState eState = PlatSocketSendState(lk_socketClient);
        if (eState == PLAT_SEND_FAILED)
            HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
        if (lk_bPeerClosed && eState == PLAT_SEND_DELIVERED)
            return true;
        if (ullLeft == 0)
            return false;
    }
}

// UDP has nothing to confirm.
bool ConfirmUdpEnd(std::uint64_t, LinkReadNow)
{
    return true;
}

// Sees the data sent so far delivered and ends the sending direction, leaving
// the socket open for the receiver thread.
void FlushNetwork(void)
{
    if (lk_socketClient != PLAT_NO_SOCKET)
        PlatSocketFlush(lk_socketClient, nullptr, FLUSH_STALL_MS);
}

// Closing with unread answers pending would reset the connection and drop the
// end of the data still on its way to the device: they are read by pfnRead
// and dropped until the device has everything.
void CloseTcp(LinkReadNow pfnRead)
{
    if (lk_socketClient != PLAT_NO_SOCKET)
        PlatSocketFlush(lk_socketClient, pfnRead, FLUSH_STALL_MS);
    CloseNetwork();
}

void CloseUdp(LinkReadNow)
{
    CloseNetwork();
}

// The address or host name as given, and the port in use.
int DescribeNetwork(char* pcDevice, std::size_t size)
{
    std::snprintf(pcDevice, size, "%s", lk_pcServer);
    return lk_iPort & 0xFFFF;
}

// Ends the connection at once, from any thread; the socket stays allocated
// until the process ends.
void ShutdownNetwork(void)
{
    if (lk_socketClient != PLAT_NO_SOCKET)
        PlatSocketShutdown(lk_socketClient);
}

}  // namespace

const LinkOps gl_sTcpLink = {
    .pfnOpen = InitNetwork,
    .pfnSend = SendTcp,
    .pfnSendFile = SendFileTcp,
    .pfnReceive = ReceiveTcp,
    .pfnKeepAlive = KeepAliveTcp,
    .pfnReadNow = ReadNowTcp,
    .pfnStopReceiving = StopReceivingTcp,
    .pfnConfirmEnd = ConfirmTcpEnd,
    .pfnFinishSending = FlushNetwork,
    .pfnClose = CloseTcp,
    .pfnRelease = ShutdownNetwork,
    .pfnDescribe = DescribeNetwork,
    .pcName = "tcp",
    .bStream = true,
    .bSerial = false,
    .bKeepAlive = true,
    .bConfirms = true,
    .bEmptyReads = true,
};

const LinkOps gl_sUdpLink = {
    .pfnOpen = InitNetwork,
    .pfnSend = SendUdp,
    .pfnSendFile = LinkNoSendFile,
    .pfnReceive = ReceiveUdp,
    .pfnKeepAlive = KeepAliveNetwork,
    .pfnReadNow = nullptr,
    .pfnStopReceiving = LinkNoAction,
    .pfnConfirmEnd = ConfirmUdpEnd,
    .pfnFinishSending = LinkNoAction,
    .pfnClose = CloseUdp,
    .pfnRelease = ShutdownNetwork,
    .pfnDescribe = DescribeNetwork,
    .pcName = "udp",
    .bStream = false,
    .bSerial = false,
    .bKeepAlive = true,
    .bConfirms = false,
    .bEmptyReads = true,
};

void InitNetwork(void)
{
    int iResult = PlatNetStartup();
    if (iResult != 0)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    ResolveServer(lk_pcServer, static_cast<std::uint16_t>(lk_iPort & 0xFFFF));
    // UDP stays unconnected: every block goes to the first address as a datagram.
    if (lk_bUDP) {
        OpenSocket(0, true);
        return;
    }
    RetryClock sClock = RetryStart(lk_ulWaitSeconds);
    Connect(lk_ulWaitSeconds != 0 ? &sClock : nullptr);
}

void ConnectNetwork(const char* pcHost, std::uint16_t usPort, RetryClock* psClock)
{
    if (PlatNetStartup() != 0)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    ResolveServer(pcHost, usPort);
    Connect(psClock);
}

void CloseNetwork(void)
{
    if (lk_socketClient == PLAT_NO_SOCKET)
        return;
    PlatSocketClose(lk_socketClient);
    lk_socketClient = PLAT_NO_SOCKET;
}

PlatSocket NetworkSocket(void)
{
    return lk_socketClient;
}
