// The serial link to the device (a COM port). Its platform layer comes as
// serial_<system>.cpp (serial_posix.cpp: terminal devices through termios); the
// mode string that carries the line settings is shared (serialmode.h).
#pragma once

#include <cstdint>

// An open serial port; PLAT_NO_SERIAL when none is open.
using PlatSerial = std::intptr_t;
constexpr PlatSerial PLAT_NO_SERIAL = -1;

extern PlatSerial lk_handleSerial;

// Opens and configures the port from the serial settings; failures end the
// process (code 240).
PlatSerial InitSerial(void);

// SerialWrite's result when a system call failed and left its last error
// (PlatLastError) untouched: the reporter shows the system's text for it.
constexpr int SERIAL_SYSTEM_FAILURE = -2;

// Writes len bytes to the port, blocking until all are handed over. Returns the
// count written; -1 on a failure reported with the fixed text, or
// SERIAL_SYSTEM_FAILURE (Windows).
int SerialWrite(const unsigned char* pucData, int len);

// Reads up to iSize bytes from the port by its read rules: once bytes have
// arrived the read ends after 50 ms of silence or when iSize bytes are in; the
// whole read ends after lk_ulTimeout seconds when a time-out is set, else after
// 10 ms per requested byte, delivering the bytes that came, possibly none.
// Returns the count (0: nothing came), or -1 on failure with the last error set
// (EIO when the line has hung up: never 0 forever on a dead line).
int SerialRead(unsigned char* pucBuf, int iSize);

// Closes the port if it is open.
void CloseSerial(void);

// Lets other programs open the port once this process has ended, without
// closing it: the port's exclusive mode is cleared. Async-signal-safe, so it
// can run in a signal handler or while the other thread uses the port.
void SerialRelease(void);
