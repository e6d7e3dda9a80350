// Reads a terminal's speed through termios2, whose kernel header clashes with
// <termios.h>: hence a file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

std::uint32_t TerminalSpeed(int fd)
{
    termios2 sTerm;
    return ioctl(fd, TCGETS2, &sTerm) == 0 ? sTerm.c_ospeed : 0;
}
