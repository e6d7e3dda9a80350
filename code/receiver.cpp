// The receiver thread. It waits for the device's answers with the receive
// time-out; on silence it reports "Timeout" and ends, or in keep-alive mode
// sends one space once all input is sent. Every block goes to the answer
// filter until the filter has consumed all of it.
#include "receiver.h"

#include <atomic>
#include <cstdint>

#include "errors.h"
#include "filter.h"
#include "link.h"
#include "platform.h"
#include "settings.h"

namespace {

// One receive takes up to 256 KiB (a whole datagram fits), so that a flowing
// answer costs few calls; the filter takes it in pieces (FilterConsume).
constexpr int RECV_BUF_SIZE = 256 * 1024;

// Used by this thread alone; every receive reads into its start.
unsigned char pucBuf[RECV_BUF_SIZE];

int lk_fdOut = 1;
PlatThread lk_thread;
bool lk_bThreadStarted;
// Set by the main thread once all input is sent.
std::atomic<bool> lk_bInputFinished{false};
// Set by the main thread when the run ends while the receiver runs: the
// block in hand is handed over, then the thread ends without reading more.
std::atomic<bool> lk_bStopAsked{false};

// Held while the filter works on received data. An end of the process that
// stops the receiver takes it for good, so that the filter's state stays as
// it is while the held answer is written.
PlatLock lk_sFilterLock;

// Receiving ends: the answer that the filter holds back is written. With -rs
// the receiver is never waited for, so nothing held is written at any end.
void FlushHeld(void)
{
    if (lk_bRecvExitWhenSend)
        return;
    PlatLockTake(&lk_sFilterLock);
    FilterFlush(lk_fdOut);
    PlatLockGive(&lk_sFilterLock);
}

// Receiving ends: an answer still held back by the filter is written first.
void ReportTimeout(void)
{
    FlushHeld();
    HandleError(ERR_TIMEOUT, ERR_TIMEOUT, __FILE__, __LINE__, nullptr);
}

// Hands n received bytes to the filter, under the lock that an end of the
// process takes to keep the filter as it is.
void HandOver(int n)
{
    PlatLockTake(&lk_sFilterLock);
    FilterConsume(lk_fdOut, pucBuf, n);
    PlatLockGive(&lk_sFilterLock);
}

// A silent period has passed; true to go on waiting. In keep-alive mode a
// link that has a keep-alive is kept open with one space once all input is sent.
bool Silence(void)
{
    if (!lk_bRecvKeepAlive || !LinkHasKeepAlive()) {
        ReportTimeout();
        return false;
    }
    if (!lk_bInputFinished || LinkKeepAlive())
        return true;
    ReportTimeout();
    return false;
}

// The device closed the connection: nothing more can come. With a time-out it
// is waited out from the last data on, then reported; without one the thread
// ends at once.
void ConnectionClosed(std::uint64_t ullLastData)
{
    FlushHeld();
    if (lk_ulTimeout == 0)
        return;
    std::uint64_t ullLimit = std::uint64_t{lk_ulTimeout} * 1000;
    std::uint64_t ullSilent = PlatNowMs() - ullLastData;
    if (ullSilent < ullLimit)
        PlatSleep(ullLimit - ullSilent);
    ReportTimeout();
}

// A read that brought nothing (an empty datagram, a serial read without a
// time-out): ends the wait only once the time-out since the last data has
// passed.
bool Nothing(std::uint64_t ullLastData)
{
    if (lk_ulTimeout == 0 || PlatNowMs() - ullLastData < std::uint64_t{lk_ulTimeout} * 1000)
        return true;
    ReportTimeout();
    return false;
}

void Receive(void)
{
    std::uint64_t ullLastData = PlatNowMs();
    for (;;) {
        int n = 0;
        const LinkInput eInput = LinkReceive(pucBuf, RECV_BUF_SIZE, &n);
        if (eInput == LINK_DATA)
            HandOver(n);
        if (lk_bStopAsked.load())
            return;
        switch (eInput) {
        case LINK_DATA:
            ullLastData = PlatNowMs();
            break;
        case LINK_SILENCE:
            if (!Silence())
                return;
            break;
        case LINK_NOTHING:
            if (!Nothing(ullLastData))
                return;
            break;
        case LINK_CLOSED:
            ConnectionClosed(ullLastData);
            return;
        }
    }
}

void RecvThread(void)
{
    if (!PlatSetBinary(lk_fdOut))
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    Receive();
    LinkStopReceiving();
}

}  // namespace

void StartReceiver(int fdOut)
{
    lk_fdOut = fdOut;
    lk_bThreadStarted = PlatThreadStart(&lk_thread, RecvThread);
    if (!lk_bThreadStarted)
        LinkStopReceiving();
}

void ReceiverInputFinished(void)
{
    lk_bInputFinished = true;
}

void WaitReceiver(void)
{
    if (lk_bThreadStarted)
        PlatThreadJoin(lk_thread);
}

void LeaveReceiver(void)
{
    if (lk_bThreadStarted)
        PlatThreadDetach(lk_thread);
}

void StopReceiver(void)
{
    if (!lk_bThreadStarted)
        return;
    lk_bStopAsked = true;
    LinkEndWaits();
    PlatThreadJoin(lk_thread);
    FilterFlush(lk_fdOut);
}

void CutReceiver(void)
{
    if (!lk_bThreadStarted)
        return;
    PlatLockTake(&lk_sFilterLock);  // never given back: the process ends
    PlatThreadDetach(lk_thread);
}
