// The serial link to the device (a COM port). Its platform layer comes as
// serial_<system>.cpp; until then serial.cpp stands in.
#pragma once

#include <cstdint>

// An open serial port; PLAT_NO_SERIAL when none is open.
using PlatSerial = std::intptr_t;
constexpr PlatSerial PLAT_NO_SERIAL = -1;

extern PlatSerial lk_handleSerial;

// Opens and configures the port from the serial settings; failures end the
// process (code 240).
PlatSerial InitSerial(void);

// Writes len bytes to the port, blocking until all are handed over; the count
// written, or -1.
int SerialWrite(const unsigned char* pucData, int len);

// Closes the port if it is open.
void CloseSerial(void);
