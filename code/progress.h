// -g: the progress of sending, on standard error. On a terminal one line,
// rewritten at most four times a second, then a summary line in its place;
// elsewhere, and with debug output, only the summary line.
#pragma once

#include <cstdint>

// Starts counting; ullTotal is the input's size, 0 when unknown.
void ProgressStart(std::uint64_t ullTotal);

// n more bytes of the input have been sent.
void ProgressAdd(int n);

// Everything is sent: the summary line.
void ProgressEnd(void);

// A message for standard error follows, from either thread: the live line is
// closed by a line end, so that the message starts a line of its own, and is
// not written again until ProgressResume().
void ProgressHold(void);
void ProgressResume(void);

// Lines of their own follow on standard error (the trace's records): a live
// line is ended by a line end and drawn anew at the next refresh.
void ProgressBreakLine(void);
