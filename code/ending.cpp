// The end of the process: clean-up hooks, then exit.
#include "ending.h"

#include <atomic>

#include "platform.h"

namespace {

constexpr int MAX_HOOKS = 4;

// Filled by the main thread while it opens the link, before anything can end
// the process from another thread or a signal.
EndHook lk_pfnHooks[MAX_HOOKS];
std::atomic<int> lk_iHooks{0};
std::atomic<bool> lk_bHooksRun{false};
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
    const int iCount = lk_iHooks.load();
    for (int i = 0; i < iCount; ++i)
        if (lk_pfnHooks[i] == pfnHook)
            return;
    if (iCount < MAX_HOOKS) {
        lk_pfnHooks[iCount] = pfnHook;
        lk_iHooks.store(iCount + 1);
    }
}

void RunEndHooks(void)
{
    if (lk_bHooksRun.exchange(true))
        return;
    const int iCount = lk_iHooks.load();
    for (int i = 0; i < iCount; ++i)
        lk_pfnHooks[i]();
}

void CatchEndSignals(void)
{
    PlatOnTerminate(RunEndHooks);
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
    RunEndHooks();
    PlatExit(iStatus);
}
