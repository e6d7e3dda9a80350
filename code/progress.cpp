// Progress and summary lines of sending.
#include "progress.h"

#include <libintl.h>

#include <cstdio>

#include "platform.h"
#include "settings.h"
#include "stderrline.h"

namespace {

constexpr std::uint64_t REFRESH_MS = 250;

std::uint64_t lk_ullTotal;
std::uint64_t lk_ullSent;
std::uint64_t lk_ullStartMs;
std::uint64_t lk_ullShownMs;
bool lk_bTerminal;

double Seconds(std::uint64_t ullNowMs)
{
    const std::uint64_t ullMs = ullNowMs - lk_ullStartMs;
    return static_cast<double>(ullMs > 0 ? ullMs : 1) / 1000.0;
}

double KiBPerSecond(std::uint64_t ullNowMs)
{
    return static_cast<double>(lk_ullSent) / 1024.0 / Seconds(ullNowMs);
}

void ShowProgress(std::uint64_t ullNowMs)
{
    char pcLine[160];
    const double dRate = KiBPerSecond(ullNowMs);
    int iLen;
    if (lk_ullTotal != 0) {
        const unsigned uPercent = static_cast<unsigned>(lk_ullSent * 100 / lk_ullTotal);
        const double dLeft = static_cast<double>(lk_ullTotal - lk_ullSent) / 1024.0 / (dRate > 0 ? dRate : 1);
        iLen = std::snprintf(pcLine, sizeof pcLine, gettext("%llu bytes sent (%u%%), %.1f KiB/s, %.0f s left"),
                             static_cast<unsigned long long>(lk_ullSent), uPercent, dRate, dLeft);
    } else {
        iLen = std::snprintf(pcLine, sizeof pcLine, gettext("%llu bytes sent, %.1f KiB/s"),
                             static_cast<unsigned long long>(lk_ullSent), dRate);
    }
    StderrLive(pcLine, iLen < static_cast<int>(sizeof pcLine) ? iLen : static_cast<int>(sizeof pcLine) - 1);
}

}  // namespace

void ProgressStart(std::uint64_t ullTotal)
{
    lk_ullTotal = ullTotal;
    lk_ullSent = 0;
    lk_ullStartMs = lk_ullShownMs = PlatNowMs();
    // Debug output writes its dots between the blocks: no live line then.
    lk_bTerminal = gl_bDebug == 0 && PlatIsTerminal(2);
}

void ProgressAdd(int n)
{
    lk_ullSent += static_cast<std::uint64_t>(n);
    if (!lk_bTerminal)
        return;
    const std::uint64_t ullNow = PlatNowMs();
    if (ullNow - lk_ullShownMs < REFRESH_MS)
        return;
    lk_ullShownMs = ullNow;
    ShowProgress(ullNow);
}

void ProgressEnd(void)
{
    const std::uint64_t ullNow = PlatNowMs();
    if (lk_bTerminal)
        StderrLiveEnd();
    lk_bTerminal = false;
    StderrPrint(gettext("%llu bytes sent in %.1f s (%.1f KiB/s)\n"), static_cast<unsigned long long>(lk_ullSent),
                Seconds(ullNow), KiBPerSecond(ullNow));
}
