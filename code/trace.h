// -f: a trace of every byte on the link. One entry per send or receive call,
// a call of more than TRACE_ENTRY_MAX bytes in several: a header line
// "<seconds>.<microseconds> <send|recv> <count>", then the bytes in lines of
// 16 as hexdump -C lays them out. Entries are formatted in a fixed buffer and
// written whole under a lock that both threads take. Numbers are written
// digit by digit, the same in every locale, and nothing is translated.
#pragma once

constexpr int TRACE_ENTRY_MAX = 4096;

// Starts the trace on fd: a file that the run has opened, or 2 for standard
// error, where an entry always starts a line of its own.
void TraceStart(int fd);

// True once TraceStart has run.
bool TraceIsOn(void);

// The bytes of one send or receive call that did not fail; a count of 0 is an
// entry without data lines. A failed write ends the process (code 255).
void TraceSend(const unsigned char* pucData, int iCount);
void TraceRecv(const unsigned char* pucData, int iCount);

// Formats one entry of at most TRACE_ENTRY_MAX bytes into pcBuf (at least
// TRACE_BUFFER_SIZE bytes): its length. ullMicros is the time since the start.
constexpr int TRACE_BUFFER_SIZE = 64 + (TRACE_ENTRY_MAX / 16) * 80;
int TraceFormat(char* pcBuf, unsigned long long ullMicros, bool bSend, const unsigned char* pucData, int iCount);
