// The serial link on Windows: the COM port opened for overlapped I/O, its line
// settings parsed by the system from the mode string, and the port's own read
// time-outs. The main thread writes and the receiver thread reads at the same
// time, each with its own overlapped record and manual-reset event.
#include "serial.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "errors.h"
#include "serialmode.h"
#include "settings.h"

PlatSerial lk_handleSerial = PLAT_NO_SERIAL;

namespace {

// "COM%c:" with the port character.
constexpr std::size_t PORT_NAME_SIZE = 12;

// Writes (main thread) and reads (receiver thread), each with its own event.
OVERLAPPED lk_osWrite;
OVERLAPPED lk_osRead;

// Set once the port is closed; the handle keeps its value.
std::atomic<bool> lk_bSerialClosed{false};

HANDLE Port(void)
{
    return reinterpret_cast<HANDLE>(lk_handleSerial);
}

// A manual-reset event, not signalled, without a name; null on failure.
HANDLE NewEvent(void)
{
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// With a receive time-out a read lasts at most lk_ulTimeout seconds, else
// 10 ms per requested byte; once data came, 50 ms of silence end it. Writes
// have no time-out.
COMMTIMEOUTS ReadTimeouts(void)
{
    COMMTIMEOUTS sTimeouts;
    std::memset(&sTimeouts, 0, sizeof sTimeouts);
    sTimeouts.ReadIntervalTimeout = 50;
    if (lk_bRecv && lk_ulTimeout != 0) {
        // MAXDWORD would mean something else to the port; longer is forever.
        const std::uint64_t ullMs = std::uint64_t{lk_ulTimeout} * 1000;
        sTimeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(ullMs < MAXDWORD ? ullMs : MAXDWORD - 1);
    } else {
        sTimeouts.ReadTotalTimeoutMultiplier = 10;
    }
    return sTimeouts;
}

// A read that the port's total time-out ends completes with the bytes that
// came, possibly none. Some systems report that completion as a failure with
// a time-out code; it is no failure here.
bool EndedByTimeout(void)
{
    const DWORD dwError = GetLastError();
    return dwError == ERROR_TIMEOUT || dwError == WAIT_TIMEOUT || dwError == ERROR_SEM_TIMEOUT;
}

// How long the receiver waits for one read: the time-out, else no limit.
DWORD ReadWaitMs(void)
{
    if (lk_ulTimeout == 0)
        return INFINITE;
    const std::uint64_t ullMs = std::uint64_t{lk_ulTimeout} * 1000;
    return static_cast<DWORD>(ullMs < INFINITE ? ullMs : INFINITE - 1);
}

}  // namespace

PlatSerial InitSerial(void)
{
    char pcName[PORT_NAME_SIZE];
    std::snprintf(pcName, sizeof pcName, "COM%c:", lk_cPort);
    char pcMode[SERIAL_MODE_SIZE];
    FormatSerialMode(pcMode, sizeof pcMode);

    // Exclusive, and overlapped so that a read and a write can be outstanding
    // at once. The mode is parsed only once the port is open, so a missing
    // port is reported before a bad setting.
    HANDLE hPort =
        CreateFileA(pcName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (hPort == INVALID_HANDLE_VALUE)
        HandleError(ERR_SERIAL, -1, __FILE__, __LINE__, nullptr);

    DCB sDcb;
    std::memset(&sDcb, 0, sizeof sDcb);
    sDcb.DCBlength = sizeof sDcb;
    if (!BuildCommDCBA(pcMode, &sDcb))
        HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);
    sDcb.fBinary = TRUE;
    if (!SetCommState(hPort, &sDcb))
        HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);
    COMMTIMEOUTS sTimeouts = ReadTimeouts();
    if (!SetCommTimeouts(hPort, &sTimeouts))
        HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);

    std::memset(&lk_osWrite, 0, sizeof lk_osWrite);
    lk_osWrite.hEvent = NewEvent();
    if (lk_osWrite.hEvent == nullptr)
        HandleError(ERR_SERIAL, 0, __FILE__, __LINE__, nullptr);
    lk_bSerialClosed = false;
    return reinterpret_cast<PlatSerial>(hPort);
}

int SerialWrite(const unsigned char* pucData, int len)
{
    DWORD dwWritten = 0;
    if (WriteFile(Port(), pucData, static_cast<DWORD>(len), &dwWritten, &lk_osWrite))
        return static_cast<int>(dwWritten);
    // Each failed call leaves its last error for the reporter; a short count
    // is left to the caller.
    if (GetLastError() != ERROR_IO_PENDING)
        return SERIAL_SYSTEM_FAILURE;
    // No write time-out: the write waits for flow control as long as it takes.
    if (WaitForSingleObject(lk_osWrite.hEvent, INFINITE) != WAIT_OBJECT_0)
        return SERIAL_SYSTEM_FAILURE;
    if (!GetOverlappedResult(Port(), &lk_osWrite, &dwWritten, FALSE))
        return SERIAL_SYSTEM_FAILURE;
    return static_cast<int>(dwWritten);
}

int SerialRead(unsigned char* pucBuf, int iSize)
{
    // The receiver's own event, made on its first read.
    if (lk_osRead.hEvent == nullptr) {
        lk_osRead.hEvent = NewEvent();
        if (lk_osRead.hEvent == nullptr)
            HandleError(ERR_SERIAL, 0, __FILE__, __LINE__, nullptr);
    }
    DWORD dwRead = 0;
    if (ReadFile(Port(), pucBuf, static_cast<DWORD>(iSize), &dwRead, &lk_osRead))
        return static_cast<int>(dwRead);
    if (EndedByTimeout())
        return 0;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;

    DWORD dwWait = WaitForSingleObject(lk_osRead.hEvent, ReadWaitMs());
    if (dwWait == WAIT_TIMEOUT) {
        // The read must not complete into the buffer after this call: cancel
        // it and wait until it has ended. Bytes that came meanwhile still count.
        CancelIo(Port());
        if (!GetOverlappedResult(Port(), &lk_osRead, &dwRead, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED &&
            !EndedByTimeout())
            return -1;
        return static_cast<int>(dwRead);
    }
    if (dwWait != WAIT_OBJECT_0)
        return -1;
    if (!GetOverlappedResult(Port(), &lk_osRead, &dwRead, FALSE) && !EndedByTimeout())
        return -1;
    return static_cast<int>(dwRead);
}

void CloseSerial(void)
{
    if (lk_handleSerial == PLAT_NO_SERIAL || lk_bSerialClosed.exchange(true))
        return;
    if (lk_osWrite.hEvent != nullptr)
        CloseHandle(lk_osWrite.hEvent);
    if (lk_osRead.hEvent != nullptr)
        CloseHandle(lk_osRead.hEvent);
    CloseHandle(Port());
}

void SerialRelease(void)
{
    // A COM port is held by its handle alone, which the system closes with
    // the process.
}
