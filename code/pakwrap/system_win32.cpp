// pakwrap's files on Windows: opened in binary mode, since the C runtime
// otherwise opens descriptors in text mode and changes line ends; 64-bit
// offsets. One file is the same volume serial number and file index: the C
// runtime's stat has no inode numbers there, so it cannot tell. No in-kernel
// copy: the caller copies itself.
#include "system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

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

namespace {

// The identity of the file at pcName; false when it cannot be opened.
bool FileIdentity(const char* pcName, BY_HANDLE_FILE_INFORMATION* psInfo)
{
    // No access asked for: only the attributes are read. Backup semantics let
    // a directory be opened too.
    HANDLE hFile = CreateFileA(pcName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    const bool bDone = GetFileInformationByHandle(hFile, psInfo) != 0;
    CloseHandle(hFile);
    return bDone;
}

}  // namespace

bool SameFileIdentity(const char* pcFirst, const char* pcSecond)
{
    BY_HANDLE_FILE_INFORMATION sFirst, sSecond;
    return FileIdentity(pcFirst, &sFirst) && FileIdentity(pcSecond, &sSecond) &&
           sFirst.dwVolumeSerialNumber == sSecond.dwVolumeSerialNumber &&
           sFirst.nFileIndexHigh == sSecond.nFileIndexHigh && sFirst.nFileIndexLow == sSecond.nFileIndexLow;
}

bool CopyRest(int /*iIn*/, int /*iOut*/)
{
    return false;
}
