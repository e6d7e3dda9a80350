// pakwrap's files on POSIX systems: descriptors closed on exec, so that they
// stay with this program; 64-bit offsets; one file by device and inode.
#include "system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// Inputs of 2 GiB and more are measured and rewound with the 64-bit offsets
// that the build asks for (_FILE_OFFSET_BITS).
static_assert(sizeof(off_t) >= 8, "64-bit file offsets needed");

namespace {

// Opens again when a signal interrupts the open.
int OpenFile(const char* pcName, int iFlags)
{
    int iFd;
    do
        iFd = open(pcName, iFlags | O_CLOEXEC, 0666);
    while (iFd < 0 && errno == EINTR);
    return iFd;
}

}  // namespace

int OpenInput(const char* pcName)
{
    return OpenFile(pcName, O_RDONLY);
}

int OpenOutput(const char* pcName)
{
    return OpenFile(pcName, O_WRONLY | O_CREAT | O_TRUNC);
}

long long SeekFile(int iFd, long long llOffset, int iWhence)
{
    return lseek(iFd, static_cast<off_t>(llOffset), iWhence);
}

bool SameFileIdentity(const char* pcFirst, const char* pcSecond)
{
    struct stat sFirst, sSecond;
    return stat(pcFirst, &sFirst) == 0 && stat(pcSecond, &sSecond) == 0 && sFirst.st_dev == sSecond.st_dev &&
           sFirst.st_ino == sSecond.st_ino;
}

#if !defined(__linux__)
// Other POSIX systems have no in-kernel copy between files: the caller copies
// itself. Linux has one (fastcopy_linux.cpp).
bool CopyRest(int /*iIn*/, int /*iOut*/)
{
    return false;
}
#endif
