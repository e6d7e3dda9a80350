// Serial link: which port, which line settings and time-outs, and what each
// failure of the port layer means.
#include "seriallink.h"

#include <atomic>
#include <cstdio>

#include "errors.h"
#include "retry.h"
#include "serialmode.h"
#include "settings.h"

PlatSerial lk_handleSerial = PLAT_NO_SERIAL;

namespace {

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

void ReleaseSerial(void)
{
    if (lk_handleSerial != PLAT_NO_SERIAL && !lk_bSerialClosed.load())
        SerialRelease(lk_handleSerial);
}
