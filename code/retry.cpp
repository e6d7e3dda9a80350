// Paced attempts until a deadline.
#include "retry.h"

#include <cstdio>

#include "platform.h"
#include "settings.h"
#include "stderrline.h"

namespace {

constexpr std::uint64_t FIRST_PAUSE_MS = 250;
constexpr std::uint64_t LONGEST_PAUSE_MS = 2000;
constexpr std::uint64_t SHORTEST_ATTEMPT_MS = 100;

}  // namespace

RetryClock RetryStart(std::uint32_t ulSeconds)
{
    return {PlatNowMs() + std::uint64_t{ulSeconds} * 1000, FIRST_PAUSE_MS};
}

std::uint64_t RetryAttemptMs(const RetryClock& sClock)
{
    const std::uint64_t ullNow = PlatNowMs();
    const std::uint64_t ullLeft = sClock.ullDeadline > ullNow ? sClock.ullDeadline - ullNow : 0;
    return ullLeft > SHORTEST_ATTEMPT_MS ? ullLeft : SHORTEST_ATTEMPT_MS;
}

bool RetryPause(RetryClock* psClock)
{
    const std::uint64_t ullNow = PlatNowMs();
    if (ullNow >= psClock->ullDeadline)
        return false;
    const std::uint64_t ullLeft = psClock->ullDeadline - ullNow;
    const std::uint64_t ullPause = psClock->ullPauseMs < ullLeft ? psClock->ullPauseMs : ullLeft;
    if (gl_bDebug) {
        char pcWhy[256];
        PlatErrorText(PlatLastError(), pcWhy, sizeof pcWhy);
        StderrPrint("Waiting for the device (%s): next try in %llu ms\n", pcWhy,
                    static_cast<unsigned long long>(ullPause));
    }
    PlatSleep(ullPause);
    psClock->ullPauseMs = psClock->ullPauseMs * 2 < LONGEST_PAUSE_MS ? psClock->ullPauseMs * 2 : LONGEST_PAUSE_MS;
    return true;
}
