// The trace of the link (-f): formatting and writing of its entries.
#include "trace.h"

#include <chrono>

#include "errors.h"
#include "platform.h"
#include "stderrline.h"

namespace {

// The program's start, for the entries' times.
const std::chrono::steady_clock::time_point lk_tStart = std::chrono::steady_clock::now();

int lk_fdTrace = -1;
// Held while an entry is formatted and written.
PlatLock lk_sTraceLock;
// The entry buffer, used under the lock.
char lk_pcEntry[TRACE_BUFFER_SIZE];

const char lk_pcHex[] = "0123456789abcdef";

// Writes ullValue in decimal at pc, at least iDigits digits: the end.
char* PutDecimal(char* pc, unsigned long long ullValue, int iDigits)
{
    char pcDigits[24];
    int n = 0;
    do {
        pcDigits[n++] = static_cast<char>('0' + ullValue % 10);
        ullValue /= 10;
    } while (ullValue != 0 || n < iDigits);
    while (n > 0)
        *pc++ = pcDigits[--n];
    return pc;
}

char* PutText(char* pc, const char* pcText)
{
    while (*pcText != '\0')
        *pc++ = *pcText++;
    return pc;
}

// One data line: offset, up to 16 bytes in hex, their characters; a short
// line is padded so that its first '|' stands in the 61st column.
char* PutLine(char* pc, int iOffset, const unsigned char* pucData, int n)
{
    for (int iShift = 28; iShift >= 0; iShift -= 4)
        *pc++ = lk_pcHex[(iOffset >> iShift) & 0xF];
    *pc++ = ' ';
    for (int i = 0; i < 16; ++i) {
        if (i % 8 == 0)
            *pc++ = ' ';
        *pc++ = i < n ? lk_pcHex[pucData[i] >> 4] : ' ';
        *pc++ = i < n ? lk_pcHex[pucData[i] & 0xF] : ' ';
        *pc++ = ' ';
    }
    *pc++ = ' ';
    *pc++ = '|';
    for (int i = 0; i < n; ++i)
        *pc++ = pucData[i] >= 0x20 && pucData[i] <= 0x7E ? static_cast<char>(pucData[i]) : '.';
    *pc++ = '|';
    *pc++ = '\n';
    return pc;
}

unsigned long long MicrosSinceStart(void)
{
    const auto tSince = std::chrono::steady_clock::now() - lk_tStart;
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::microseconds>(tSince).count());
}

// An entry goes through the one writer of standard error, which starts it on
// a line of its own there; in a file it is written under the same lock, so
// that the end of the process never cuts it short.
bool WriteEntry(int len)
{
    if (lk_fdTrace == 2)
        return StderrLines(lk_pcEntry, len);
    return StderrLockedWrite(lk_fdTrace, lk_pcEntry, len);
}

// One call's bytes, in entries of at most TRACE_ENTRY_MAX bytes.
void Trace(bool bSend, const unsigned char* pucData, int iCount)
{
    PlatLockTake(&lk_sTraceLock);
    int iDone = 0;
    do {
        const int n = iCount - iDone < TRACE_ENTRY_MAX ? iCount - iDone : TRACE_ENTRY_MAX;
        if (!WriteEntry(TraceFormat(lk_pcEntry, MicrosSinceStart(), bSend, pucData + iDone, n))) {
            PlatLockGive(&lk_sTraceLock);
            HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
        }
        iDone += n;
    } while (iDone < iCount);
    PlatLockGive(&lk_sTraceLock);
}

}  // namespace

int TraceFormat(char* pcBuf, unsigned long long ullMicros, bool bSend, const unsigned char* pucData, int iCount)
{
    char* pc = PutDecimal(pcBuf, ullMicros / 1000000, 1);
    *pc++ = '.';
    pc = PutDecimal(pc, ullMicros % 1000000, 6);
    pc = PutText(pc, bSend ? " send " : " recv ");
    pc = PutDecimal(pc, static_cast<unsigned long long>(iCount), 1);
    *pc++ = '\n';
    for (int i = 0; i < iCount; i += 16)
        pc = PutLine(pc, i, pucData + i, iCount - i < 16 ? iCount - i : 16);
    return static_cast<int>(pc - pcBuf);
}

void TraceStart(int fd)
{
    lk_fdTrace = fd;
}

bool TraceIsOn(void)
{
    return lk_fdTrace >= 0;
}

void TraceSend(const unsigned char* pucData, int iCount)
{
    Trace(true, pucData, iCount);
}

void TraceRecv(const unsigned char* pucData, int iCount)
{
    Trace(false, pucData, iCount);
}
