// The end of the process: the clean-up hook, then exit.
#include "ending.h"

#include <atomic>

#include "platform.h"
#include "stderrline.h"

namespace {

// Set by the main thread while it opens the link, before anything can end
// the process from another thread or a signal.
std::atomic<EndHook> lk_pfnHook{nullptr};
std::atomic<bool> lk_bHookRun{false};
std::atomic<LastHook> lk_pfnLastHook{nullptr};
std::atomic<bool> lk_bEndClaimed{false};
thread_local bool lk_bEndIsMine = false;

[[noreturn]] void WaitForTheEnd(void)
{
    for (;;)
        PlatSleep(1000);
}

}  // namespace

void AtEnd(EndHook pfnHook)
{
    lk_pfnHook.store(pfnHook);
}

void AtLastEnd(LastHook pfnHook)
{
    lk_pfnLastHook.store(pfnHook);
}

void RunEndHook(void)
{
    if (lk_bHookRun.exchange(true))
        return;
    const EndHook pfnHook = lk_pfnHook.load();
    if (pfnHook != nullptr)
        pfnHook();
}

void CatchEndSignals(void)
{
    PlatOnTerminate(RunEndHook);
}

bool ClaimEnd(void)
{
    if (!lk_bEndIsMine && !lk_bEndClaimed.exchange(true))
        lk_bEndIsMine = true;
    return lk_bEndIsMine;
}

void EndProcess(int iStatus)
{
    if (!ClaimEnd())
        WaitForTheEnd();
    RunEndHook();
    StderrSeal();
    const LastHook pfnLast = lk_pfnLastHook.load();
    if (pfnLast != nullptr)
        pfnLast(iStatus);
    PlatExit(iStatus);
}
