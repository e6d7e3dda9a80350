// Serial speeds without a B-constant, through Linux's arbitrary-rate interface.
// Its kernel header clashes with the C library's <termios.h>, so it lives in a
// file of its own.
#pragma once

#include <cstdint>

// Sets the input and output speed of the terminal on fd to ulBaudRate bits per
// second, leaving its other settings as they are. False when the driver
// refuses, with the last error set.
bool SerialSetRate(int fd, std::uint32_t ulBaudRate);
