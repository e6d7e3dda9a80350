// Arbitrary serial speeds on Linux: termios2 with BOTHER in both directions.
#include "serial_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SerialSetRate(int fd, std::uint32_t ulBaudRate)
{
    termios2 sTerm;
    if (ioctl(fd, TCGETS2, &sTerm) != 0)
        return false;
    sTerm.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    sTerm.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    sTerm.c_ispeed = ulBaudRate;
    sTerm.c_ospeed = ulBaudRate;
    return ioctl(fd, TCSETS2, &sTerm) == 0;
}
