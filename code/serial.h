// The serial port as the system offers it: one implementation per system
// (serial_linux.cpp: terminal devices through termios; serial_win32.cpp: COM
// ports with overlapped I/O). These functions take what they need and return
// results; which port, which settings and time-outs, and what a failure means
// is decided above them, by the serial link (seriallink.h).
#pragma once

#include <cstddef>
#include <cstdint>

// An open serial port; PLAT_NO_SERIAL when none is open.
using PlatSerial = std::intptr_t;
constexpr PlatSerial PLAT_NO_SERIAL = -1;

// Room for a device name built from a port character.
constexpr std::size_t SERIAL_NAME_SIZE = 32;

// Failures of the functions below. The port or its driver refused a request (a
// setting it cannot run, a write that took fewer bytes than asked), or a system
// call failed and left its last error (PlatLastError) for the reporter.
constexpr int SERIAL_REFUSED = -1;
constexpr int SERIAL_SYSTEM_FAILURE = -2;

// Read time-outs as a COM port has them: once bytes have arrived, a read ends
// after ulIntervalMs of silence or when the buffer is full; the whole read ends
// after ullTotalConstantMs plus ulTotalPerByteMs per requested byte.
struct SerialTimeouts {
    std::uint32_t ulIntervalMs;
    std::uint32_t ulTotalPerByteMs;
    std::uint64_t ullTotalConstantMs;
};

// The device that -c names, from its first character cPort and its whole
// value pcPath: on Linux a digit 1 to 9 names /dev/ttyS0 to /dev/ttyS8 and a
// value that starts with '/' is the device path itself; on Windows COM<n> or
// \\.\COM<n> names that port (also above COM9), else the first character
// names COM<c>:. A value that names no port gives a name that no open finds.
// Returns pcPath or pcBuf.
const char* SerialDevicePath(char cPort, const char* pcPath, char* pcBuf, std::size_t size);

// Opens the port for reading and writing by this process alone;
// PLAT_NO_SERIAL on failure, with the last error set and *pbMayReturn telling
// whether the port is missing or held by another program (a USB adapter that
// is away may come back).
PlatSerial SerialOpen(const char* pcPath, bool* pbMayReturn);

// Sets the line from a mode string (serialmode.h) and the read time-outs:
// 0, SERIAL_REFUSED for settings the port cannot run, or SERIAL_SYSTEM_FAILURE.
int SerialConfigure(PlatSerial hPort, const char* pcMode, const SerialTimeouts& sTimeouts);

// Writes len bytes, blocking until all are handed over (no write time-out):
// the count written, SERIAL_REFUSED or SERIAL_SYSTEM_FAILURE.
int SerialWrite(PlatSerial hPort, const unsigned char* pucData, int len);

// Reads up to iSize bytes by the port's read time-outs: the count (0: nothing
// came in time), or SERIAL_SYSTEM_FAILURE (a line that has hung up fails with
// EIO on POSIX: never 0 forever on a dead line).
int SerialRead(PlatSerial hPort, unsigned char* pucBuf, int iSize);

// Waits up to ullMilliseconds until the port has sent every byte written to
// it: 1 when it has, 0 when the time passed first, SERIAL_SYSTEM_FAILURE.
int SerialDrain(PlatSerial hPort, std::uint64_t ullMilliseconds);

void SerialClose(PlatSerial hPort);

// Lets other programs open the port once this process has ended, without
// closing it; a read that waits on another thread ends with what it has.
// Async-signal-safe: it runs in signal handlers and while another thread
// uses the port.
void SerialRelease(PlatSerial hPort);
