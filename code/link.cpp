// The link in use: network or serial port, chosen once when it opens.
#include "link.h"

#include <cstdio>

#include "ending.h"
#include "errors.h"
#include "netlink.h"
#include "seriallink.h"
#include "settings.h"

namespace {

bool lk_bSerial;

int ReceiveNetwork(unsigned char* pucBuf, int iSize, LinkInput* peInput)
{
    const std::uint64_t ullWait = lk_ulTimeout != 0 ? std::uint64_t{lk_ulTimeout} * 1000 : PLAT_WAIT_FOREVER;
    const int iReady = PlatWaitReadable(lk_socketClient, ullWait);
    if (iReady < 0)
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    if (iReady == 0) {
        *peInput = LINK_SILENCE;
        return 0;
    }
    const int n = PlatRecv(lk_socketClient, pucBuf, iSize);
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    // An empty datagram is no end: UDP has no connection to close.
    *peInput = n > 0 ? LINK_DATA : lk_bUDP ? LINK_NOTHING : LINK_CLOSED;
    return n;
}

// The port's read time-outs bound each read; with a receive time-out, a read
// that brings nothing is the silence.
int ReceiveSerial(unsigned char* pucBuf, int iSize, LinkInput* peInput)
{
    const int n = SerialRead(lk_handleSerial, pucBuf, iSize);
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    *peInput = n > 0 ? LINK_DATA : lk_ulTimeout != 0 ? LINK_SILENCE : LINK_NOTHING;
    return n;
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

bool LinkKeepAlive(void)
{
    return !lk_bSerial && PlatSend(lk_socketClient, " ", 1) == 1;
}

LinkInput LinkReceive(unsigned char* pucBuf, int iSize, int* piCount)
{
    LinkInput eInput;
    *piCount = lk_bSerial ? ReceiveSerial(pucBuf, iSize, &eInput) : ReceiveNetwork(pucBuf, iSize, &eInput);
    return eInput;
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
