// Waiting for a device that is not there yet (-w): attempts paced by pauses
// that start at a quarter second and double up to 2 s, for a given time in
// all. The last pause is cut to the time left, and a last attempt is made
// when the time is up, so a failure is never reported sooner.
#pragma once

#include <cstdint>

struct RetryClock {
    std::uint64_t ullDeadline;  // PlatNowMs() when the time is up
    std::uint64_t ullPauseMs;   // the next pause
};

// Starts the clock for ulSeconds in all.
RetryClock RetryStart(std::uint32_t ulSeconds);

// How long an attempt may take: the time left, but never less than a short
// minimum, so that the last attempt can still get its answer.
std::uint64_t RetryAttemptMs(const RetryClock& sClock);

// After a failed attempt: false when the time is up, the attempt's last error
// untouched; else pauses (in debug mode with a line that names the last
// error) and returns true for the next try.
bool RetryPause(RetryClock* psClock);
