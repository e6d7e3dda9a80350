// The receiver thread of morlink: reads the device's answers on the link in use
// and hands them to the answer filter, watching for silence.
#pragma once

// Starts the receiver thread, which writes what it shows to fdOut; a thread
// that cannot be started is not reported (the input is still sent, and
// WaitReceiver returns at once).
void StartReceiver(int fdOut);

// The run sequence has sent all input: from now on a silent period in
// keep-alive mode sends the keep-alive.
void ReceiverInputFinished(void);

// Waits until the receiver thread has ended.
void WaitReceiver(void);

// Leaves the receiver thread to end with the process, never waited for.
void LeaveReceiver(void);

// For an end of the process while the receiver may still run: ends its wait
// for answers, lets it hand the block in hand to the filter (however long the
// output or the trace take) and waits until it has ended, then writes the
// answer that the filter holds back. Bytes not yet read stay unread. The
// process must end afterwards.
void StopReceiver(void);

// The same with -rs, where the receiver is never waited for: it is cut off
// where it stands, once the filter is done with the block in hand, and
// nothing held back is written. The process must end afterwards.
void CutReceiver(void);
