// The serial link to the device: the port that the settings name, opened with
// their line settings and the read time-outs of a session, over the serial
// port layer of the system (serial.h).
#pragma once

#include <cstddef>

#include "serial.h"

// The open port, PLAT_NO_SERIAL until InitSerial opens it.
extern PlatSerial lk_handleSerial;

// Formats the mode string (serialmode.h) of the serial settings
// (lk_ulBaudRate, lk_cParity, lk_ui8DataBits, lk_ui8StopBits, lk_bXon) into
// pcBuf, cut to size - 1 characters.
void FormatSerialMode(char* pcBuf, std::size_t size);

// Opens and configures the port from the serial settings; failures end the
// process (code 240).
void InitSerial(void);

// Closes the port if it is open.
void CloseSerial(void);

// Lets other programs open the port once this process has ended; an end hook
// (ending.h).
void ReleaseSerial(void);
