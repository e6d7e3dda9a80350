// The serial port on Linux: a terminal device configured through termios for
// raw 8-bit transfer, read with the time-out rules of a COM port.
//
// The descriptor stays in blocking mode with VMIN and VTIME 0: writes block
// until the driver has taken every byte, while reads wait in poll() and then
// take what is there. So the main thread can write while the receiver thread
// reads, on one descriptor and without a lock.
#include "serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform.h"
#include "platform_linux.h"
#include "serial_rate.h"
#include "serialmode.h"

namespace {

// The port's read time-outs, kept as a COM port keeps them. Set before the
// receiver thread starts, only read afterwards.
SerialTimeouts lk_sTimeouts = {50, 10, 0};

struct StandardRate {
    std::uint32_t ulBaudRate;
    speed_t speed;
};

const StandardRate lk_sRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

int PortFd(PlatSerial hPort)
{
    return static_cast<int>(hPort);
}

// Opens the device for reading and writing, not as the controlling terminal,
// and for this process alone: an advisory lock against every program that
// locks ports the usual way, and the terminal's exclusive mode against further
// opens. Non-blocking only while opening, so that a port without carrier does
// not hold the open. -1 on failure, with the last error set.
int OpenPort(const char* pcPath)
{
    int fd;
    do
        fd = open(pcPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0)
        return fd;
    const int iError = errno == EWOULDBLOCK ? EBUSY : errno;
    close(fd);
    errno = iError;
    return -1;
}

// Character size and stop bits; false for a combination a UART cannot run
// (1.5 stop bits go only with 5 data bits, 2 only with 6 to 8).
bool SetCharacterFormat(termios* psTerm, const SerialMode& sMode)
{
    static const tcflag_t lk_tSizes[] = {CS5, CS6, CS7, CS8};
    if (sMode.ui8DataBits < 5 || sMode.ui8DataBits > 8)
        return false;
    const bool bFive = sMode.ui8DataBits == 5;
    if ((sMode.eStopBits == SERIAL_STOP_1_5 && !bFive) || (sMode.eStopBits == SERIAL_STOP_2 && bFive))
        return false;
    psTerm->c_cflag |= lk_tSizes[sMode.ui8DataBits - 5];
    if (sMode.eStopBits != SERIAL_STOP_1)
        psTerm->c_cflag |= CSTOPB;
    return true;
}

tcflag_t ParityFlags(char cParity)
{
    switch (cParity) {
    case 'e':
        return PARENB;
    case 'o':
        return PARENB | PARODD;
    case 'm':
        return PARENB | PARODD | CMSPAR;
    case 's':
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

// Raw binary transfer with the mode's character format and flow control: no
// byte translated or swallowed, no echo, no signals from the line, modem
// lines ignored and left as they are at close. Reads return at once (VMIN 0,
// VTIME 0); SerialRead does the waiting. False for a setting termios cannot
// express: DSR handshaking.
bool SetLine(termios* psTerm, const SerialMode& sMode)
{
    psTerm->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
    psTerm->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    psTerm->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    psTerm->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    psTerm->c_cflag |= CREAD | CLOCAL | ParityFlags(sMode.cParity);
    if (sMode.bXon)
        psTerm->c_iflag |= IXON | IXOFF;
    if (sMode.bOutCts)
        psTerm->c_cflag |= CRTSCTS;
    psTerm->c_cc[VMIN] = 0;
    psTerm->c_cc[VTIME] = 0;
    return !sMode.bOutDsr && !sMode.bInDsr && SetCharacterFormat(psTerm, sMode);
}

// A speed with a B-constant into *psTerm; false for any other speed.
bool SetStandardSpeed(termios* psTerm, std::uint32_t ulBaudRate)
{
    for (const StandardRate& sRate : lk_sRates)
        if (sRate.ulBaudRate == ulBaudRate)
            return cfsetispeed(psTerm, sRate.speed) == 0 && cfsetospeed(psTerm, sRate.speed) == 0;
    return false;
}

// DTR and RTS as the mode says. A device without modem lines (a
// pseudo-terminal) refuses the request, which is no failure.
bool SetModemLines(int fd, const SerialMode& sMode)
{
    int iRaise = (sMode.bDtr ? TIOCM_DTR : 0) | (sMode.bRts ? TIOCM_RTS : 0);
    int iLower = (TIOCM_DTR | TIOCM_RTS) & ~iRaise;
    bool bDone =
        (iLower == 0 || ioctl(fd, TIOCMBIC, &iLower) == 0) && (iRaise == 0 || ioctl(fd, TIOCMBIS, &iRaise) == 0);
    return bDone || errno == ENOTTY || errno == EINVAL;
}

// Applies the line settings of the mode, then makes the descriptor blocking.
// The settings are not read back: drivers may keep only part of them.
bool ApplyMode(int fd, const SerialMode& sMode)
{
    termios sTerm;
    if (sMode.ulBaudRate == 0 || tcgetattr(fd, &sTerm) != 0 || !SetLine(&sTerm, sMode))
        return false;
    const bool bStandard = SetStandardSpeed(&sTerm, sMode.ulBaudRate);
    if (tcsetattr(fd, TCSANOW, &sTerm) != 0)
        return false;
    if (!bStandard && !SerialSetRate(fd, sMode.ulBaudRate))
        return false;
    if (!SetModemLines(fd, sMode))
        return false;
    int iFlags = fcntl(fd, F_GETFL);
    return iFlags != -1 && fcntl(fd, F_SETFL, iFlags & ~O_NONBLOCK) == 0;
}

// Set by SerialRelease, from any thread or a signal handler: the read that
// waits then ends with what it has.
std::atomic<bool> lk_bReleased{false};
// How long a wait goes before it looks at lk_bReleased again.
constexpr std::uint64_t RELEASE_CHECK_MS = 50;

// Waits until the port is readable or has hung up (1), or ullEndMs has come
// or the port was released (0); -1 on failure.
int WaitReadable(int fd, std::uint64_t ullEndMs)
{
    for (;;) {
        const std::uint64_t ullNow = PlatNowMs();
        // One wait ends for a release: the reader then learns of it, and
        // the next wait does not spin.
        if (ullNow >= ullEndMs || lk_bReleased.exchange(false))
            return 0;
        const std::uint64_t ullLeft = ullEndMs - ullNow;
        const int iReady = WaitReadableFd(fd, ullLeft < RELEASE_CHECK_MS ? ullLeft : RELEASE_CHECK_MS);
        if (iReady != 0)
            return iReady;
    }
}

}  // namespace

const char* SerialDevicePath(char cPort, const char* pcPath, char* pcBuf, std::size_t size)
{
    if (cPort == '/')
        return pcPath;
    if (cPort >= '1' && cPort <= '9')
        std::snprintf(pcBuf, size, "/dev/ttyS%d", cPort - '1');
    else if (size > 0)
        pcBuf[0] = '\0';
    return pcBuf;
}

PlatSerial SerialOpen(const char* pcPath, bool* pbMayReturn)
{
    const int fd = OpenPort(pcPath);
    lk_bReleased = false;
    *pbMayReturn = fd < 0 && (errno == ENOENT || errno == ENODEV || errno == ENXIO || errno == EBUSY);
    return fd < 0 ? PLAT_NO_SERIAL : fd;
}

int SerialConfigure(PlatSerial hPort, const char* pcMode, const SerialTimeouts& sTimeouts)
{
    SerialMode sMode;
    if (!BuildSerialMode(pcMode, &sMode) || !ApplyMode(PortFd(hPort), sMode))
        return SERIAL_REFUSED;
    lk_sTimeouts = sTimeouts;
    return 0;
}

int SerialWrite(PlatSerial hPort, const unsigned char* pucData, int len)
{
    return PlatWriteAll(PlatWrite, PortFd(hPort), pucData, len) == len ? len : SERIAL_REFUSED;
}

int SerialRead(PlatSerial hPort, unsigned char* pucBuf, int iSize)
{
    const int fd = PortFd(hPort);
    const std::uint64_t ullTotalEnd = PlatNowMs() + lk_sTimeouts.ullTotalConstantMs +
                                      std::uint64_t{lk_sTimeouts.ulTotalPerByteMs} * static_cast<std::uint64_t>(iSize);
    std::uint64_t ullEnd = ullTotalEnd;
    int iCount = 0;
    while (iCount < iSize) {
        int iReady = WaitReadable(fd, ullEnd);
        if (iReady == 0)
            break;
        if (iReady < 0)
            return SERIAL_SYSTEM_FAILURE;
        ssize_t n = read(fd, pucBuf + iCount, static_cast<std::size_t>(iSize - iCount));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // Readable but empty: the line has hung up. Bytes already in are
        // delivered first; the next read meets the hang-up at once.
        if (n <= 0 && iCount > 0)
            break;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return SERIAL_SYSTEM_FAILURE;
        iCount += static_cast<int>(n);
        const std::uint64_t ullGapEnd = PlatNowMs() + lk_sTimeouts.ulIntervalMs;
        ullEnd = ullGapEnd < ullTotalEnd ? ullGapEnd : ullTotalEnd;
    }
    return iCount;
}

int SerialDrain(PlatSerial hPort, std::uint64_t ullMilliseconds)
{
    const std::uint64_t ullEnd = PlatNowMs() + ullMilliseconds;
    for (;;) {
        int iQueued = 0;
        if (ioctl(PortFd(hPort), TIOCOUTQ, &iQueued) != 0)
            return SERIAL_SYSTEM_FAILURE;
        if (iQueued == 0)
            return 1;
        if (PlatNowMs() >= ullEnd)
            return 0;
        PlatSleep(10);
    }
}

void SerialClose(PlatSerial hPort)
{
    SerialRelease(hPort);
    close(PortFd(hPort));
}

void SerialRelease(PlatSerial hPort)
{
    lk_bReleased = true;
    ioctl(PortFd(hPort), TIOCNXCL);
}
