// The error reporter of morlink. Every failure ends up here: it prints the
// failure on standard error and ends the process with the failure's code.
#pragma once

// The exit code of a run that did what it was asked.
constexpr int EXIT_DONE = 0;

// Exit codes of failures, which are also the keys to the fixed messages.
constexpr int ERR_TIMEOUT = 1;    // no data from the device in time
constexpr int ERR_SERIAL = 240;   // serial port failure
constexpr int ERR_RECEIVE = 250;  // receiving or writing received data
constexpr int ERR_SEND = 251;     // sending, or reading the input to send
constexpr int ERR_CONNECT = 252;  // TCP connection to the device
constexpr int ERR_RESOLVE = 253;  // the device's host name does not resolve
constexpr int ERR_NETWORK = 254;  // socket layer or socket creation
constexpr int ERR_PROGRAM = 255;  // bad argument or local file failure

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
