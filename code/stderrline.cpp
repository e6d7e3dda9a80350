// The one writer of standard error, and the state of its last line.
#include "stderrline.h"

#include <cstdarg>
#include <cstdio>

#include "platform.h"

namespace {

// Held for every write to standard error and for the state below.
PlatLock lk_sLock;
// Something is on the last line without its line end: dots, or the live
// line, which is then lk_iLiveLen characters long.
bool lk_bOpen;
int lk_iLiveLen;
bool lk_bHeld;

constexpr int FD_STDERR = 2;
// Formatted messages and debug lines are cut to this length.
constexpr int TEXT_MAX = 2048;

// Writes len bytes; a write that fails part of the way may leave the line
// open, to be ended before whatever comes next.
bool Write(const char* pcText, int len)
{
    const int n = PlatWriteAll(PlatWrite, FD_STDERR, pcText, len);
    if (n > 0 && n < len && pcText[n - 1] != '\n')
        lk_bOpen = true;
    return n == len;
}

void EndOpenLine(void)
{
    if (lk_bOpen)
        Write("\n", 1);
    lk_bOpen = false;
    lk_iLiveLen = 0;
}

}  // namespace

bool StderrLines(const char* pcText, int len)
{
    PlatLockTake(&lk_sLock);
    EndOpenLine();
    const bool bWritten = Write(pcText, len);
    PlatLockGive(&lk_sLock);
    return bWritten;
}

void StderrPrint(const char* pcFormat, ...)
{
    char pcText[TEXT_MAX];
    std::va_list args;
    va_start(args, pcFormat);
    const int n = std::vsnprintf(pcText, sizeof pcText, pcFormat, args);
    va_end(args);
    StderrLines(pcText, n < 0 ? 0 : n < TEXT_MAX ? n : TEXT_MAX - 1);
}

void StderrDot(void)
{
    PlatLockTake(&lk_sLock);
    if (lk_iLiveLen > 0)
        EndOpenLine();
    Write(".", 1);
    lk_bOpen = true;
    PlatLockGive(&lk_sLock);
}

void StderrLive(const char* pcLine, int len)
{
    PlatLockTake(&lk_sLock);
    if (!lk_bHeld) {
        if (lk_bOpen && lk_iLiveLen == 0)
            EndOpenLine();
        char pcText[TEXT_MAX];
        const int iBlank = lk_iLiveLen > len ? lk_iLiveLen - len : 0;
        const int n = std::snprintf(pcText, sizeof pcText, "\r%.*s%*s", len, pcLine, iBlank, "");
        Write(pcText, n < TEXT_MAX ? n : TEXT_MAX - 1);
        lk_iLiveLen = len;
        lk_bOpen = true;
    }
    PlatLockGive(&lk_sLock);
}

void StderrLiveEnd(void)
{
    PlatLockTake(&lk_sLock);
    if (lk_iLiveLen > 0) {
        char pcText[TEXT_MAX];
        const int n = std::snprintf(pcText, sizeof pcText, "\r%*s\r", lk_iLiveLen, "");
        Write(pcText, n < TEXT_MAX ? n : TEXT_MAX - 1);
        lk_iLiveLen = 0;
        lk_bOpen = false;
    }
    PlatLockGive(&lk_sLock);
}

bool StderrLockedWrite(int fd, const char* pcText, int len)
{
    PlatLockTake(&lk_sLock);
    const bool bWritten = PlatWriteAll(PlatWrite, fd, pcText, len) == len;
    PlatLockGive(&lk_sLock);
    return bWritten;
}

void StderrSeal(void)
{
    PlatLockTake(&lk_sLock);  // never given back: the process ends
}

void StderrHold(void)
{
    PlatLockTake(&lk_sLock);
    EndOpenLine();
    lk_bHeld = true;
    PlatLockGive(&lk_sLock);
}

void StderrResume(void)
{
    PlatLockTake(&lk_sLock);
    lk_bHeld = false;
    PlatLockGive(&lk_sLock);
}
