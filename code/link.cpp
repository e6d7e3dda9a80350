// The link in use: the record of operations of TCP, UDP or the serial port
// (linkops.h), chosen once when it opens. Every call goes through it.
#include "link.h"

#include <cstdio>

#include "ending.h"
#include "errors.h"
#include "linkops.h"
#include "netlink.h"
#include "seriallink.h"
#include "settings.h"

namespace {

// Set once by LinkOpen, before the receiver thread starts.
const LinkOps* lk_psLink;

}  // namespace

void LinkOpen(void)
{
    lk_psLink = lk_itfUsed != 0 ? &gl_sSerialLink : lk_bUDP ? &gl_sUdpLink : &gl_sTcpLink;
    AtEnd(lk_psLink->pfnRelease);
    lk_psLink->pfnOpen();
}

bool LinkIsSerial(void)
{
    return lk_psLink->bSerial;
}

void SendData(const unsigned char* pucData, int len)
{
    const int iCount = lk_psLink->pfnSend(pucData, len);

    if (gl_bDebug)
        std::fputc('.', stderr);

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
    return lk_psLink->pfnSendFile(fd, iMax);
}

bool LinkHasKeepAlive(void)
{
    return lk_psLink->bKeepAlive;
}

bool LinkKeepAlive(void)
{
    return lk_psLink->pfnKeepAlive() >= 0;
}

LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    return lk_psLink->pfnReceive(pucBuf, iSize, piCount);
}

void LinkStopReceiving(void)
{
    lk_psLink->pfnStopReceiving();
}

bool LinkConfirmEnd(void)
{
    return lk_psLink->pfnConfirmEnd(std::uint64_t{lk_ulConfirmSeconds} * 1000, lk_psLink->pfnReadNow);
}

void LinkFinishSending(void)
{
    lk_psLink->pfnFinishSending();
}

void LinkClose(void)
{
    lk_psLink->pfnClose(lk_psLink->pfnReadNow);
}
