// The one way the process ends. The link holds something the system keeps
// after the process is gone (the serial port's exclusive mode) or that the
// other thread may still use (the socket): it registers one clean-up hook;
// every end, a normal one, a failure, the answer filter's or a signal, runs
// the hook once and then ends the process.
#pragma once

// The clean-up hook. It may run in a signal handler or while the other thread
// still uses the link: it makes only async-signal-safe calls and closes no
// descriptor.
using EndHook = void (*)(void);

// Registers the hook, in place of any registered before.
void AtEnd(EndHook pfnHook);

// The last hook, which EndProcess runs after the clean-up hook with the
// status, and a signal never: it may do anything but end the process.
using LastHook = void (*)(int iStatus);
void AtLastEnd(LastHook pfnHook);

// Runs the registered hook, once per process: later calls do nothing.
void RunEndHook(void);

// Catches the requests to end the process (interrupt, termination, hang-up):
// the hook runs, then the request ends the process as it would have.
void CatchEndSignals(void);

// Claims the end of the process for the calling thread: true for the first
// thread that asks (and again for it), false for any other. One end is
// reported: a thread that meets a failure only because the other thread is
// already ending the process (the link shut down under it) stays silent.
bool ClaimEnd(void);

// Runs the clean-up hook, waits until no line of standard error or trace
// entry is half written and keeps the other thread from writing more, runs
// the last hook, and ends the process with iStatus, from any thread. When another thread has claimed the end, waits
// for that end instead.
[[noreturn]] void EndProcess(int iStatus);
