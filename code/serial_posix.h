// Parts of the POSIX serial layer that the tests reach directly.
#pragma once

#include <cstddef>

// Room for a device name built from a port character ("/dev/ttyS8").
constexpr std::size_t SERIAL_NAME_SIZE = 12;

// The device that -c names. A digit d from 1 to 9 is /dev/ttyS(d-1), so port 1
// is /dev/ttyS0; a value that starts with '/' (pcPath) is the device path
// itself; any other character names no device, the empty name, which no open
// finds. Returns pcPath or pcBuf.
const char* SerialDevicePath(char cPort, const char* pcPath, char* pcBuf, std::size_t size);
