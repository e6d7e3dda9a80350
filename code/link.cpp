// The link in use: the record of operations of TCP, UDP or the serial port
// (linkops.h), chosen once when it opens. Every call goes through it.
#include "link.h"

#include <atomic>

#include "ending.h"
#include "errors.h"
#include "linkops.h"
#include "netlink.h"
#include "record.h"
#include "rfc2217link.h"
#include "seriallink.h"
#include "settings.h"
#include "trace.h"

namespace {

// Set once by LinkOpen, before the receiver thread starts: the record of the
// link, or with a trace lk_sTraced.
const LinkOps* lk_psLink;

// With a trace: the record of the link, and the copy of it in use whose send
// and receive operations also write their bytes to the trace.
const LinkOps* lk_psRecord;
LinkOps lk_sTraced;

int TracedSend(const unsigned char* pucData, int len)
{
    const int n = lk_psRecord->pfnSend(pucData, len);
    if (n >= 0)
        TraceSend(pucData, n);
    return n;
}

// A receive that brought no byte is a record when it read something empty:
// the end of a connection, or an empty datagram; not a serial read that ended
// with nothing.
LinkInput TracedReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    const LinkInput eInput = lk_psRecord->pfnReceive(pucBuf, iSize, piCount);
    if (eInput == LINK_DATA || eInput == LINK_CLOSED || (eInput == LINK_NOTHING && !lk_psRecord->bSerial))
        TraceRecv(pucBuf, *piCount);
    return eInput;
}

int TracedKeepAlive(void)
{
    const int n = lk_psRecord->pfnKeepAlive();
    if (n > 0)
        TraceSend(&LINK_KEEP_ALIVE, 1);
    return n;
}

int TracedReadNow(unsigned char* pucBuf, int iSize)
{
    const int n = lk_psRecord->pfnReadNow(pucBuf, iSize);
    if (n >= 0)
        TraceRecv(pucBuf, n);
    return n;
}

// The trace wraps every operation that moves bytes; the copy inside the
// system would pass them by, so it is not offered.
const LinkOps* Traced(const LinkOps* psRecord)
{
    lk_psRecord = psRecord;
    lk_sTraced = *psRecord;
    lk_sTraced.pfnSend = TracedSend;
    lk_sTraced.pfnSendFile = LinkNoSendFile;
    lk_sTraced.pfnReceive = TracedReceive;
    lk_sTraced.pfnKeepAlive = TracedKeepAlive;
    if (psRecord->pfnReadNow != nullptr)
        lk_sTraced.pfnReadNow = TracedReadNow;
    return &lk_sTraced;
}

// The counts of LinkCounted, from the calls' results. The main thread sends;
// the receiver thread receives and sends the keep-alive byte; either may close.
std::atomic<std::uint64_t> lk_ullInput{0};
std::atomic<std::uint64_t> lk_ullFrames{0};
std::atomic<std::uint64_t> lk_ullReceived{0};

void Count(std::atomic<std::uint64_t>* pullCount, int n)
{
    if (n > 0)
        pullCount->fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
}

// The reads that drop the device's answers beneath the end of a connection:
// through the record in use (traced with -f), and counted.
int ReadNowCounted(unsigned char* pucBuf, int iSize)
{
    const int n = lk_psLink->pfnReadNow(pucBuf, iSize);
    Count(&lk_ullReceived, n);
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

}  // namespace

void LinkOpen(void)
{
    const LinkOps* psRecord = ChosenLink();
    lk_psLink = TraceIsOn() ? Traced(psRecord) : psRecord;
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
    Count(eBytes == LINK_INPUT ? &lk_ullInput : &lk_ullFrames, iCount);

    if (gl_bDebug)
        TraceDebugDot();

    // A failed or partial send is not retried.
    if (iCount != len)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

bool LinkIsStream(void)
{
    return lk_psLink->bStream;
}

int LinkSendFile(int fd, int iMax)
{
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
    Count(&lk_ullFrames, n);
    return n >= 0;
}

LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    const LinkInput eInput = lk_psLink->pfnReceive(pucBuf, iSize, piCount);
    Count(&lk_ullReceived, *piCount);
    return eInput;
}

void LinkStopReceiving(void)
{
    lk_psLink->pfnStopReceiving();
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

int LinkDescribe(const char** ppcName, char* pcDevice, std::size_t size)
{
    const LinkOps* psLink = lk_psLink != nullptr ? lk_psLink : ChosenLink();
    *ppcName = psLink->pcName;
    return psLink->pfnDescribe(pcDevice, size);
}
