// One file on Windows: the same volume serial number and file index. The C
// runtime's stat has no inode numbers there, so it cannot tell.
#include "samefile.h"

#include <windows.h>

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
