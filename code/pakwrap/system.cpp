// Reading and writing pakwrap's files by the calls that every system has.
#include "system.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

long long MeasureFile(int iFd)
{
    long long llSize = SeekFile(iFd, 0, SEEK_END);
    if (llSize < 0 || !RewindFile(iFd))
        return -1;
    return llSize;
}

bool RewindFile(int iFd)
{
    return SeekFile(iFd, 0, SEEK_SET) == 0;
}

// A close that a signal interrupts has still closed the file (Linux frees the
// descriptor first), and a local file's data are written: no failure.
bool CloseFile(int iFd)
{
    return close(iFd) == 0 || errno == EINTR;
}

int ReadBlock(int iFd, const Block& sBlock)
{
    int iDatalen = 0;
    while (iDatalen < sBlock.iSize) {
        ssize_t n = read(iFd, sBlock.puc + iDatalen, static_cast<unsigned>(sBlock.iSize - iDatalen));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        iDatalen += static_cast<int>(n);
    }
    return iDatalen;
}

int WriteAll(int iFd, const void* pv, int iLen)
{
    const auto* puc = static_cast<const unsigned char*>(pv);
    int iDone = 0;
    while (iDone < iLen) {
        ssize_t n = write(iFd, puc + iDone, static_cast<unsigned>(iLen - iDone));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            break;
        }
        iDone += static_cast<int>(n);
    }
    return iDone;
}
