// The answer filter of morlink: writes what the device sends, either unchanged
// or, with frame parsing on, following its answer frames so that only their
// texts are shown, and ends the session by the rules of the selected mode.
#pragma once

#include <cstdint>

// The pieces in which received data reach the filter.
constexpr int FILTER_PIECE = 1024;

// Everything through which the filter touches the world. A test or a fuzzing
// harness puts its own functions here to observe writes and ends.
struct FilterIo {
    // Writes like write(2): the count written, or -1.
    int (*pfnWrite)(int fd, const void* pData, int len);
    // Ends the process: status 0, or ERR_RECEIVE after a failed write. When it
    // returns (a harness), HandleData returns at once with the whole block consumed.
    void (*pfnEnd)(int iCode);
    // Clears the terminal that fd writes to, if it is one; false on failure.
    bool (*pfnClearScreen)(int fd);
    void (*pfnPause)(std::uint64_t ullMilliseconds);
};

// The functions the running program uses.
extern const FilterIo gl_sFilterIoDefault;

// Bytes written to the output by the default I/O so far.
std::uint64_t FilterWritten(void);

// Replaces the filter's I/O (null restores the default).
void FilterSetIo(const FilterIo* psIo);

// Puts the parser back to its start: idle, no transfer, no held answer.
void FilterReset(void);

// Receiving ends: an answer still unfinished is written as the device sent it,
// from its start byte on, unless a write has failed. Parsing starts afresh.
void FilterFlush(int fd);

// Of iAvailable bytes at the start of a piece of a received block, how many the
// filter passes on unchanged when handed over at once: all with parsing off,
// or during a binary transfer up to the end of the 1024-byte piece in which
// the countdown ends; else 0 (hand them over in 1024-byte pieces).
int FilterBulkLength(int iAvailable);

// Handles a received block; returns how many of its bytes were consumed (the
// caller hands over the rest again). May end the process.
int HandleData(int fd, const unsigned char* data, int len);

// Hands a whole received block to the filter: in pieces of FILTER_PIECE
// bytes, each as if it had come alone, or at once where the filter passes the
// bytes on unchanged (FilterBulkLength); each piece until all of it is
// consumed. Returns early when the filter ended the session and the end
// returned (a harness).
void FilterConsume(int fd, const unsigned char* data, int len);
