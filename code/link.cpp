// The link in use: the record of operations of TCP, UDP or the serial port
// (linkops.h), chosen once when it opens. Every call goes through it.
#include "link.h"

#include <atomic>
#include <cstdio>

#include "ending.h"
#include "errors.h"
#include "linkops.h"
#include "netlink.h"
#include "record.h"
#include "seriallink.h"
#include "settings.h"

namespace {

// Set once by LinkOpen, before the receiver thread starts.
const LinkOps* lk_psLink;

// The counts of LinkCounted. The main thread sends; the receiver thread
// receives and sends the keep-alive byte; either may close.
std::atomic<std::uint64_t> lk_ullInput{0};
std::atomic<std::uint64_t> lk_ullFrames{0};
LinkTally lk_ullReceived{0};

void Count(std::atomic<std::uint64_t>* pullCount, int n)
{
    if (n > 0)
        pullCount->fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
}

const LinkOps* ChosenLink(void)
{
    return lk_itfUsed != 0 ? &gl_sSerialLink : lk_bUDP ? &gl_sUdpLink : &gl_sTcpLink;
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
    Count(eBytes == LINK_INPUT ? &lk_ullInput : &lk_ullFrames, iCount);

    if (gl_bDebug) {
        std::fputc('.', stderr);
        RecordLineOpen();
    }

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
    return lk_psLink->pfnConfirmEnd(std::uint64_t{lk_ulConfirmSeconds} * 1000, &lk_ullReceived);
}

void LinkFinishSending(void)
{
    lk_psLink->pfnFinishSending();
}

void LinkClose(void)
{
    lk_psLink->pfnClose(&lk_ullReceived);
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
