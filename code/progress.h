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
