// The link in use: the operations of TCP, UDP or the serial port (linkops.h),
// chosen once when it opens. Every call goes through them, and every byte they
// move is counted as soon as the call returns, then traced with -f.
#include "link.h"

#include <atomic>

#include "ending.h"
#include "errors.h"
#include "netlink.h"
#include "rfc2217link.h"
#include "seriallink.h"
#include "settings.h"
#include "stderrline.h"
#include "trace.h"

namespace {

// Set once by LinkOpen, before the receiver thread starts.
const LinkOps* lk_psLink;

// The counts of LinkCounted, from the calls' results. The main thread sends;
// the receiver thread receives and sends the keep-alive byte; either may close.
std::atomic<std::uint64_t> lk_ullInput{0};
std::atomic<std::uint64_t> lk_ullFrames{0};
std::atomic<std::uint64_t> lk_ullReceived{0};

// The end of the connection has been traced: it is one entry, however often
// a read meets it. Set too once LinkEndWaits has shut the link down, whose
// empty reads are none of the device's.
std::atomic<bool> lk_bEndTraced{false};

void Count(std::atomic<std::uint64_t>* pullCount, int n)
{
    if (n > 0)
        pullCount->fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
}

void Sent(const unsigned char* pucData, int n, std::atomic<std::uint64_t>* pullCount)
{
    Count(pullCount, n);
    if (n >= 0 && TraceIsOn())
        TraceSend(pucData, n);
}

// n bytes received; an empty read is traced when it read something (bEnd: the
// end of a connection, traced once).
void Received(const unsigned char* pucData, int n, bool bEnd)
{
    Count(&lk_ullReceived, n);
    if (!TraceIsOn() || n < 0 || (bEnd && lk_bEndTraced.exchange(true)))
        return;
    TraceRecv(pucData, n);
}

// The reads that drop the device's answers beneath the end of a connection:
// counted and traced.
int ReadNowCounted(unsigned char* pucBuf, int iSize)
{
    const int n = lk_psLink->pfnReadNow(pucBuf, iSize);
    if (n != LINK_READ_NONE)
        Received(pucBuf, n, n == 0);
    return n;
}

LinkReadNow DropReader(void)
{
    return lk_psLink->pfnReadNow != nullptr ? ReadNowCounted : nullptr;
}

const LinkOps* ChosenLink(void)
{
    if (lk_itfUsed != 0)
        return IsPortServer(lk_pcSerialPath) ? &gl_sPortServerLink : &gl_sSerialLink;
    return lk_bUDP ? &gl_sUdpLink : &gl_sTcpLink;
}

const LinkOps* LinkInUse(void)
{
    return lk_psLink != nullptr ? lk_psLink : ChosenLink();
}

}  // namespace

void LinkOpen(void)
{
    lk_psLink = ChosenLink();
    AtEnd(lk_psLink->pfnRelease);
    lk_psLink->pfnOpen();
}

bool LinkIsSerial(void)
{
    return lk_psLink->bSerial;
}

void SendData(const unsigned char* pucData, int len, LinkBytes eBytes)
{
    const int iCount = lk_psLink->pfnSend(pucData, len);
    Sent(pucData, iCount, eBytes == LINK_INPUT ? &lk_ullInput : &lk_ullFrames);

    if (gl_bDebug)
        StderrDot();

    // A failed or partial send is not retried.
    if (iCount != len)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

bool LinkIsStream(void)
{
    return lk_psLink->bStream;
}

// A trace shows every byte, so the copy inside the system, which passes them
// by, is not used with one.
int LinkSendFile(int fd, int iMax)
{
    if (TraceIsOn())
        return LINK_NO_SENDFILE;
    const int n = lk_psLink->pfnSendFile(fd, iMax);
    Count(&lk_ullInput, n);
    return n;
}

bool LinkHasKeepAlive(void)
{
    return lk_psLink->bKeepAlive;
}

bool LinkKeepAlive(void)
{
    const int n = lk_psLink->pfnKeepAlive();
    if (n > 0)
        Sent(&LINK_KEEP_ALIVE, 1, &lk_ullFrames);
    return n >= 0;
}

LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    const LinkInput eInput = lk_psLink->pfnReceive(pucBuf, iSize, piCount);
    if (eInput == LINK_DATA || eInput == LINK_CLOSED || (eInput == LINK_NOTHING && lk_psLink->bEmptyReads))
        Received(pucBuf, *piCount, eInput == LINK_CLOSED);
    return eInput;
}

void LinkStopReceiving(void)
{
    lk_psLink->pfnStopReceiving();
}

void LinkEndWaits(void)
{
    lk_bEndTraced = true;
    lk_psLink->pfnRelease();
}

bool LinkConfirmEnd(void)
{
    return lk_psLink->pfnConfirmEnd(std::uint64_t{lk_ulConfirmSeconds} * 1000, DropReader());
}

void LinkFinishSending(void)
{
    lk_psLink->pfnFinishSending();
}

void LinkClose(void)
{
    lk_psLink->pfnClose(DropReader());
}

LinkCounts LinkCounted(void)
{
    return {lk_ullInput.load(), lk_ullFrames.load(), lk_ullReceived.load()};
}

bool LinkConfirms(void)
{
    return LinkInUse()->bConfirms;
}

int LinkDescribe(const char** ppcName, char* pcDevice, std::size_t size)
{
    const LinkOps* psLink = LinkInUse();
    *ppcName = psLink->pcName;
    return psLink->pfnDescribe(pcDevice, size);
}
