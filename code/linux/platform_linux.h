// Helpers that the Linux platform files share (platform_linux.cpp,
// serial_linux.cpp); nothing above the platform layer includes this.
#pragma once

#include <cstdint>

// Waits until fd has data (or its end, or a hang-up) to read: 1 when it has, 0
// when ullMilliseconds (UINT64_MAX: no limit) passed first, -1 on failure.
int WaitReadableFd(int fd, std::uint64_t ullMilliseconds);
