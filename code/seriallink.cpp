// Serial link: the serial port's operations. Which port, which line settings and
// time-outs, and what each failure of the port layer means.
#include "seriallink.h"

#include <atomic>
#include <cstdio>

#include "errors.h"
#include "retry.h"
#include "serialmode.h"
#include "settings.h"

namespace {

// The port's read rules count the bytes asked for: one piece at a time.
constexpr int SERIAL_READ_SIZE = 1024;

PlatSerial lk_handleSerial = PLAT_NO_SERIAL;
// Set once the port is closed. The handle keeps its value, since the receiver
// thread may still be reading it while the main thread ends the run.
std::atomic<bool> lk_bSerialClosed{false};

// Opens the port; with -w a port that is missing or busy is tried again
// until the time is up. Failures end the process.
PlatSerial OpenPort(const char* pcPath)
{
    bool bMayReturn = false;
    PlatSerial hPort = SerialOpen(pcPath, &bMayReturn);
    if (hPort == PLAT_NO_SERIAL && bMayReturn && lk_ulWaitSeconds != 0) {
        RetryClock sClock = RetryStart(lk_ulWaitSeconds);
        while (hPort == PLAT_NO_SERIAL && bMayReturn && RetryPause(&sClock))
            hPort = SerialOpen(pcPath, &bMayReturn);
    }
    if (hPort == PLAT_NO_SERIAL)
        HandleError(ERR_SERIAL, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    return hPort;
}

// The read time-outs of a session: with a receive time-out a read lasts at
// most lk_ulTimeout seconds, else 10 ms per requested byte; once data came,
// 50 ms of silence end it.
SerialTimeouts SessionTimeouts(void)
{
    const bool bTimeout = lk_bRecv && lk_ulTimeout != 0;
    return {50, bTimeout ? 0u : 10u, bTimeout ? std::uint64_t{lk_ulTimeout} * 1000 : 0};
}

int SendSerial(const unsigned char* pucData, int len)
{
    const int iCount = SerialWrite(lk_handleSerial, pucData, len);
    // A failed system call on the port: its own text, taken before anything
    // else (the debug dot) can change the last error.
    if (iCount == SERIAL_SYSTEM_FAILURE)
        HandleError(ERR_SEND, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    return iCount;
}

// The port's read time-outs bound each read; with a receive time-out, a read
// that brings nothing is the silence.
LinkInput ReceiveSerial(unsigned char* pucBuf, int iSize, int* piCount)
{
    const int n = SerialRead(lk_handleSerial, pucBuf, iSize < SERIAL_READ_SIZE ? iSize : SERIAL_READ_SIZE);
    if (n < 0)
        HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    *piCount = n;
    return n > 0 ? LINK_DATA : lk_ulTimeout != 0 ? LINK_SILENCE : LINK_NOTHING;
}

// A serial port has no keep-alive (bKeepAlive is false): never called.
int NoKeepAlive(void)
{
    return -1;
}

// The end is confirmed once the port has sent every byte.
bool ConfirmSerialEnd(std::uint64_t ullMs, LinkReadNow)
{
    const int iResult = SerialDrain(lk_handleSerial, ullMs);
    if (iResult < 0)
        HandleError(ERR_SEND, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    return iResult != 0;
}

// Nothing is read at the close of a port.
void CloseSerialLink(LinkReadNow)
{
    CloseSerial();
}

// The name the port is opened by; a port has no port number.
int DescribeSerial(char* pcDevice, std::size_t size)
{
    char pcName[SERIAL_NAME_SIZE];
    std::snprintf(pcDevice, size, "%s", SerialDevicePath(lk_cPort, lk_pcSerialPath, pcName, sizeof pcName));
    return LINK_NO_PORT;
}

// Lets other programs open the port once this process has ended.
void ReleaseSerial(void)
{
    if (lk_handleSerial != PLAT_NO_SERIAL && !lk_bSerialClosed.load())
        SerialRelease(lk_handleSerial);
}

}  // namespace

void FormatSerialMode(char* pcBuf, std::size_t size)
{
    // Formatted whole, then cut to the caller's buffer: a cut by snprintf
    // itself would draw a truncation warning here.
    char pcWhole[128];
    std::snprintf(pcWhole, sizeof pcWhole,
                  "baud=%lu parity=%c data=%u stop=%u to=off xon=%s odsr=off octs=off dtr=off "
                  "rts=off idsr=off",
                  static_cast<unsigned long>(lk_ulBaudRate), lk_cParity, static_cast<unsigned int>(lk_ui8DataBits),
                  static_cast<unsigned int>(lk_ui8StopBits), lk_bXon ? "on" : "off");
    std::size_t i = 0;
    for (; i + 1 < size && pcWhole[i] != '\0'; ++i)
        pcBuf[i] = pcWhole[i];
    if (size > 0)
        pcBuf[i] = '\0';
}

void InitSerial(void)
{
    char pcName[SERIAL_NAME_SIZE];
    const char* pcPath = SerialDevicePath(lk_cPort, lk_pcSerialPath, pcName, sizeof pcName);
    char pcMode[SERIAL_MODE_SIZE];
    FormatSerialMode(pcMode, sizeof pcMode);

    // The mode is checked only once the port is open, so a missing port is
    // reported before a bad setting.
    const PlatSerial hPort = OpenPort(pcPath);
    // Known at once, so that every end from here on releases the port.
    lk_bSerialClosed = false;
    lk_handleSerial = hPort;
    const int iResult = SerialConfigure(hPort, pcMode, SessionTimeouts());
    if (iResult != 0)
        HandleError(ERR_SERIAL, iResult == SERIAL_SYSTEM_FAILURE ? REASON_SYSTEM : ERR_SERIAL, __FILE__, __LINE__,
                    nullptr);
}

void CloseSerial(void)
{
    if (lk_handleSerial != PLAT_NO_SERIAL && !lk_bSerialClosed.exchange(true))
        SerialClose(lk_handleSerial);
}

PlatSerial SerialLinkPort(void)
{
    return lk_handleSerial;
}

const LinkOps gl_sSerialLink = {
    .pfnOpen = InitSerial,
    .pfnSend = SendSerial,
    .pfnSendFile = LinkNoSendFile,
    .pfnReceive = ReceiveSerial,
    .pfnKeepAlive = NoKeepAlive,
    .pfnReadNow = nullptr,
    .pfnStopReceiving = LinkNoAction,
    .pfnConfirmEnd = ConfirmSerialEnd,
    .pfnFinishSending = LinkNoAction,
    .pfnClose = CloseSerialLink,
    .pfnRelease = ReleaseSerial,
    .pfnDescribe = DescribeSerial,
    .pcName = "serial",
    .bStream = false,
    .bSerial = true,
    .bKeepAlive = false,
    .bConfirms = true,
    .bEmptyReads = false,
};
