// pakwrap's files on Windows: opened in binary mode, since the C runtime
// otherwise opens descriptors in text mode and changes line ends; 64-bit
// offsets.
#include "system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

int OpenInput(const char* pcName)
{
    return _open(pcName, _O_RDONLY | _O_BINARY);
}

int OpenOutput(const char* pcName)
{
    return _open(pcName, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

long long SeekFile(int iFd, long long llOffset, int iWhence)
{
    return _lseeki64(iFd, llOffset, iWhence);
}
