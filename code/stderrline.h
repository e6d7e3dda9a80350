// Standard error, which both threads write: failure messages and "Timeout",
// debug lines and dots, the progress line, trace entries and the result
// record. Everything goes through here under one lock, so that nothing lands
// inside another's line. A line left open (debug dots, the live progress
// line) is ended by anything that starts a line of its own.
#pragma once

// Writes len bytes that start a line of their own and end with a line end:
// an open line is ended first. True when all of them were written.
bool StderrLines(const char* pcText, int len);

// A message or a debug line, formatted, on a line of its own (as StderrLines).
[[gnu::format(printf, 1, 2)]] void StderrPrint(const char* pcFormat, ...);

// A debug dot: one '.' on the open line of dots, which stays open.
void StderrDot(void);

// The live line of a terminal (the progress line): drawn over the one before
// it, blanking what is left of a longer one. Not drawn while held.
void StderrLive(const char* pcLine, int len);

// The live line is blanked and the cursor put back to its start, so that a
// line written next takes its place.
void StderrLiveEnd(void);

// Writes len bytes to fd, a file of the run's own (the trace file), under
// the same lock, so that the end of the process never cuts them short. True
// when all of them were written.
bool StderrLockedWrite(int fd, const char* pcText, int len);

// The process ends: waits until a write under the lock is done and keeps
// every other thread's from starting, so that no line or entry is left cut
// short and none comes after what the end writes; the calling thread writes on.
void StderrSeal(void);

// Messages follow: an open line is ended, and the live line is not drawn
// again until StderrResume.
void StderrHold(void);
void StderrResume(void);
