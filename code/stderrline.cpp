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
// The thread that sealed standard error at the end writes on without the lock.
thread_local bool lk_bSealedByMe;

void Lock(void)
{
    if (!lk_bSealedByMe)
        PlatLockTake(&lk_sLock);
}

void Unlock(void)
{
    if (!lk_bSealedByMe)
        PlatLockGive(&lk_sLock);
}

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
    Lock();
    EndOpenLine();
    const bool bWritten = Write(pcText, len);
    Unlock();
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
    Lock();
    if (lk_iLiveLen > 0)
        EndOpenLine();
    Write(".", 1);
    lk_bOpen = true;
    Unlock();
}

void StderrLive(const char* pcLine, int len)
{
    Lock();
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
    Unlock();
}

void StderrLiveEnd(void)
{
    Lock();
    if (lk_iLiveLen > 0) {
        char pcText[TEXT_MAX];
        const int n = std::snprintf(pcText, sizeof pcText, "\r%*s\r", lk_iLiveLen, "");
        Write(pcText, n < TEXT_MAX ? n : TEXT_MAX - 1);
        lk_iLiveLen = 0;
        lk_bOpen = false;
    }
    Unlock();
}

bool StderrLockedWrite(int fd, const char* pcText, int len)
{
    Lock();
    const bool bWritten = PlatWriteAll(PlatWrite, fd, pcText, len) == len;
    Unlock();
    return bWritten;
}

void StderrSeal(void)
{
    Lock();  // never given back: the process ends
    lk_bSealedByMe = true;
}

void StderrHold(void)
{
    Lock();
    EndOpenLine();
    lk_bHeld = true;
    Unlock();
}

void StderrResume(void)
{
    Lock();
    lk_bHeld = false;
    Unlock();
}
