// The exit statuses of morlink, which are also the keys to its fixed messages.
#pragma once

// The exit code of a run that did what it was asked.
constexpr int EXIT_DONE = 0;

// Exit codes of failures.
constexpr int ERR_TIMEOUT = 1;    // no data from the device in time
constexpr int ERR_SERIAL = 240;   // serial port failure
constexpr int ERR_RECEIVE = 250;  // receiving or writing received data
constexpr int ERR_SEND = 251;     // sending, or reading the input to send
constexpr int ERR_CONNECT = 252;  // TCP connection to the device
constexpr int ERR_RESOLVE = 253;  // the device's host name does not resolve
constexpr int ERR_NETWORK = 254;  // socket layer or socket creation
constexpr int ERR_PROGRAM = 255;  // bad argument or local file failure
