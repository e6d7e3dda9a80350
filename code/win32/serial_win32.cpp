// The serial port on Windows: the COM port opened for overlapped I/O, its line
// settings parsed by the system from the mode string, and the port's own read
// time-outs. The main thread writes and the receiver thread reads at the same
// time, each with its own overlapped structure and manual-reset event.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "serial.h"

namespace {

// Writes (main thread) and reads (receiver thread), each with its own event.
OVERLAPPED lk_osWrite;
OVERLAPPED lk_osRead;

// How long the receiver waits for one read: the read's total time-out when it
// has one, else no limit.
DWORD lk_dwReadWaitMs = INFINITE;
// Set by SerialRelease: a read that waits ends with what it has.
HANDLE lk_hReleased;

HANDLE Port(PlatSerial hPort)
{
    return reinterpret_cast<HANDLE>(hPort);
}

// A manual-reset event, not signalled, without a name; null on failure.
HANDLE NewEvent(void)
{
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// MAXDWORD would mean something else to the port, and INFINITE to a wait:
// longer is forever.
DWORD CappedMs(std::uint64_t ullMs, DWORD dwForever)
{
    return static_cast<DWORD>(ullMs < dwForever ? ullMs : dwForever - 1);
}

COMMTIMEOUTS CommTimeouts(const SerialTimeouts& sTimeouts)
{
    COMMTIMEOUTS sComm;
    std::memset(&sComm, 0, sizeof sComm);
    sComm.ReadIntervalTimeout = sTimeouts.ulIntervalMs;
    sComm.ReadTotalTimeoutMultiplier = sTimeouts.ulTotalPerByteMs;
    sComm.ReadTotalTimeoutConstant = CappedMs(sTimeouts.ullTotalConstantMs, MAXDWORD);
    return sComm;
}

// A read that the port's total time-out ends completes with the bytes that
// came, possibly none. Some systems report that completion as a failure with
// a time-out code; it is no failure here.
bool EndedByTimeout(void)
{
    const DWORD dwError = GetLastError();
    return dwError == ERROR_TIMEOUT || dwError == WAIT_TIMEOUT || dwError == ERROR_SEM_TIMEOUT;
}

// Both overlapped records with their events; false on failure.
bool MakeEvents(void)
{
    std::memset(&lk_osWrite, 0, sizeof lk_osWrite);
    std::memset(&lk_osRead, 0, sizeof lk_osRead);
    lk_osWrite.hEvent = NewEvent();
    lk_osRead.hEvent = NewEvent();
    lk_hReleased = NewEvent();
    return lk_osWrite.hEvent != nullptr && lk_osRead.hEvent != nullptr && lk_hReleased != nullptr;
}

}  // namespace

namespace {

// The digits of a port name "COM<digits>" or "\\.\COM<digits>", any case;
// null for any other text.
const char* ComPortDigits(const char* pcName)
{
    if (std::strncmp(pcName, "\\\\.\\", 4) == 0)
        pcName += 4;
    if (_strnicmp(pcName, "COM", 3) != 0 || pcName[3] == '\0')
        return nullptr;
    for (const char* pc = pcName + 3; *pc != '\0'; ++pc)
        if (*pc < '0' || *pc > '9')
            return nullptr;
    return pcName + 3;
}

}  // namespace

const char* SerialDevicePath(char cPort, const char* pcPath, char* pcBuf, std::size_t size)
{
    // Ports above COM9 are reached only through the device namespace.
    const char* pcDigits = ComPortDigits(pcPath);
    if (pcDigits != nullptr)
        std::snprintf(pcBuf, size, "\\\\.\\COM%s", pcDigits);
    else
        std::snprintf(pcBuf, size, "COM%c:", cPort);
    return pcBuf;
}

PlatSerial SerialOpen(const char* pcPath, bool* pbMayReturn)
{
    // Exclusive, and overlapped so that a read and a write can be outstanding
    // at once.
    HANDLE hPort =
        CreateFileA(pcPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    const DWORD dwError = GetLastError();
    *pbMayReturn =
        hPort == INVALID_HANDLE_VALUE &&
        (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION);
    return hPort == INVALID_HANDLE_VALUE ? PLAT_NO_SERIAL : reinterpret_cast<PlatSerial>(hPort);
}

int SerialConfigure(PlatSerial hPort, const char* pcMode, const SerialTimeouts& sTimeouts)
{
    DCB sDcb;
    std::memset(&sDcb, 0, sizeof sDcb);
    sDcb.DCBlength = sizeof sDcb;
    if (!BuildCommDCBA(pcMode, &sDcb))
        return SERIAL_REFUSED;
    sDcb.fBinary = TRUE;
    COMMTIMEOUTS sComm = CommTimeouts(sTimeouts);
    if (!SetCommState(Port(hPort), &sDcb) || !SetCommTimeouts(Port(hPort), &sComm))
        return SERIAL_REFUSED;
    lk_dwReadWaitMs = sTimeouts.ullTotalConstantMs != 0 ? CappedMs(sTimeouts.ullTotalConstantMs, INFINITE) : INFINITE;
    return MakeEvents() ? 0 : SERIAL_SYSTEM_FAILURE;
}

int SerialWrite(PlatSerial hPort, const unsigned char* pucData, int len)
{
    DWORD dwWritten = 0;
    if (WriteFile(Port(hPort), pucData, static_cast<DWORD>(len), &dwWritten, &lk_osWrite))
        return static_cast<int>(dwWritten);
    // A write refused at once gets the fixed text; a failed wait or outcome
    // leaves its last error for the reporter; a short count is left to the
    // caller.
    if (GetLastError() != ERROR_IO_PENDING)
        return SERIAL_REFUSED;
    // No write time-out: the write waits for flow control as long as it takes.
    if (WaitForSingleObject(lk_osWrite.hEvent, INFINITE) != WAIT_OBJECT_0)
        return SERIAL_SYSTEM_FAILURE;
    if (!GetOverlappedResult(Port(hPort), &lk_osWrite, &dwWritten, FALSE))
        return SERIAL_SYSTEM_FAILURE;
    return static_cast<int>(dwWritten);
}

int SerialRead(PlatSerial hPort, unsigned char* pucBuf, int iSize)
{
    DWORD dwRead = 0;
    if (ReadFile(Port(hPort), pucBuf, static_cast<DWORD>(iSize), &dwRead, &lk_osRead))
        return static_cast<int>(dwRead);
    if (EndedByTimeout())
        return 0;
    if (GetLastError() != ERROR_IO_PENDING)
        return SERIAL_SYSTEM_FAILURE;

    const HANDLE phWait[] = {lk_osRead.hEvent, lk_hReleased};
    DWORD dwWait = WaitForMultipleObjects(2, phWait, FALSE, lk_dwReadWaitMs);
    if (dwWait == WAIT_TIMEOUT || dwWait == WAIT_OBJECT_0 + 1) {
        // The read must not complete into the buffer after this call: cancel
        // it and wait until it has ended. Bytes that came meanwhile still count.
        CancelIo(Port(hPort));
        if (!GetOverlappedResult(Port(hPort), &lk_osRead, &dwRead, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED &&
            !EndedByTimeout())
            return SERIAL_SYSTEM_FAILURE;
        return static_cast<int>(dwRead);
    }
    if (dwWait != WAIT_OBJECT_0)
        return SERIAL_SYSTEM_FAILURE;
    if (!GetOverlappedResult(Port(hPort), &lk_osRead, &dwRead, FALSE) && !EndedByTimeout())
        return SERIAL_SYSTEM_FAILURE;
    return static_cast<int>(dwRead);
}

int SerialDrain(PlatSerial hPort, std::uint64_t ullMilliseconds)
{
    const std::uint64_t ullEnd = GetTickCount64() + ullMilliseconds;
    for (;;) {
        DWORD dwErrors = 0;
        COMSTAT sStat;
        if (!ClearCommError(Port(hPort), &dwErrors, &sStat))
            return SERIAL_SYSTEM_FAILURE;
        if (sStat.cbOutQue == 0)
            return 1;
        if (GetTickCount64() >= ullEnd)
            return 0;
        Sleep(10);
    }
}

void SerialClose(PlatSerial hPort)
{
    if (lk_osWrite.hEvent != nullptr)
        CloseHandle(lk_osWrite.hEvent);
    if (lk_osRead.hEvent != nullptr)
        CloseHandle(lk_osRead.hEvent);
    CloseHandle(Port(hPort));
}

void SerialRelease(PlatSerial /*hPort*/)
{
    // A COM port is held by its handle alone, which the system closes with
    // the process; only a read that waits is ended.
    if (lk_hReleased != nullptr)
        SetEvent(lk_hReleased);
}
