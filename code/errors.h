// The error reporter of morlink. Every failure ends up here: it prints the
// failure on standard error and ends the process with the failure's code.
#pragma once

#include "status.h"

// The reason that makes HandleError print the system's text for the last
// error instead of a fixed message. Passing the code itself as the reason
// prints the code's fixed message.
constexpr int REASON_SYSTEM = -1;

// Reports a failure. iReason equal to iCode prints the code's fixed message
// (translated) and pcText under it; REASON_SYSTEM prints the system's text for
// the last error instead. pcFile and iLine name the call site, shown with the
// reason in debug mode.
// Returns only for a timeout that is not set to end the program.
void HandleError(int iCode, int iReason, const char* pcFile, int iLine, const char* pcText);
