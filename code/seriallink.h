// The serial link to the device, a set of operations (linkops.h) that the
// link module (link.h) drives: the port that the settings name, opened with
// their line settings and the read time-outs of a session, over the serial
// port layer of the system (serial.h). The port handle is this module's own.
#pragma once

#include <cstddef>

#include "linkops.h"
#include "serial.h"

extern const LinkOps gl_sSerialLink;

// Formats the mode string (serialmode.h) of the serial settings
// (lk_ulBaudRate, lk_cParity, lk_ui8DataBits, lk_ui8StopBits, lk_bXon) into
// pcBuf, cut to size - 1 characters.
void FormatSerialMode(char* pcBuf, std::size_t size);

// Opens and configures the port from the serial settings; failures end the
// process (code 240).
void InitSerial(void);

// Closes the port if it is open.
void CloseSerial(void);

// The port that InitSerial opened, PLAT_NO_SERIAL before.
PlatSerial SerialLinkPort(void);
