// One file on POSIX systems: the same device and inode.
#include "samefile.h"

#include <sys/stat.h>

bool SameFileIdentity(const char* pcFirst, const char* pcSecond)
{
    struct stat sFirst, sSecond;
    return stat(pcFirst, &sFirst) == 0 && stat(pcSecond, &sSecond) == 0 && sFirst.st_dev == sSecond.st_dev &&
           sFirst.st_ino == sSecond.st_ino;
}
