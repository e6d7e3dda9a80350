// The serial mode string: the line settings as one text of space-separated
// key=value tokens ("baud=57600 parity=n data=8 ..."), built by the serial link
// from the session settings (seriallink.h). The Linux port layer
// (linux/serial_linux.cpp) parses it here into line settings; on Windows the
// system's own BuildCommDCBA reads it. Plain C++ on its arguments alone, no
// system calls, so that any code that must check line settings by the same
// rules can use it.
#pragma once

#include <cstddef>
#include <cstdint>

// Buffer for the mode string, terminating NUL included; longer text is cut.
constexpr std::size_t SERIAL_MODE_SIZE = 100;

enum SerialStopBits : std::uint8_t {
    SERIAL_STOP_1 = 0,
    SERIAL_STOP_1_5 = 1,
    SERIAL_STOP_2 = 2
};

// Line settings of a mode string. A key that the string does not name leaves
// its field zero.
struct SerialMode {
    std::uint32_t ulBaudRate;
    char cParity;              // 'n' none, 'e' even, 'o' odd, 'm' mark, 's' space; 0 unset
    std::uint8_t ui8DataBits;  // 5 to 8; 0 unset
    SerialStopBits eStopBits;
    bool bWriteTimeout;  // to=
    bool bXon;           // XON/XOFF for input and output
    bool bOutDsr;        // output held back by DSR
    bool bOutCts;        // output held back by CTS
    bool bDtr;           // DTR raised
    bool bRts;           // RTS raised
    bool bInDsr;         // input gated by DSR
};

// Parses pcMode into *psMode, which it clears first. False for a string the
// mode syntax rejects: an unknown key, a bad or missing value, text after a
// value, or the comma-separated old style.
bool BuildSerialMode(const char* pcMode, SerialMode* psMode);
