#include "platform/sleep.h"

#include <ctime>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {

// Linux lets a sleep run up to 50 us late by default so that wake-ups can be
// batched; twenty sleeps a cycle make that a measurable share of the cycle.
// Asked for once, on the first sleep.
void ask_for_exact_wakeups() {
#if defined(__linux__)
    static bool asked = false;
    if (asked) return;
    asked = true;
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

constexpr std::uint64_t kNsPerSecond = 1000000000ULL;

std::uint64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

// Relative sleeps towards a deadline on the monotonic clock: macOS has no
// clock_nanosleep, and a signal that cuts one short costs nothing, because
// the next sleep is only for what is left.
void sleep_ms(std::uint32_t ms) {
    ask_for_exact_wakeups();
    const std::uint64_t until = monotonic_ns() + static_cast<std::uint64_t>(ms) * 1000000ULL;
    for (std::uint64_t now = monotonic_ns(); now < until; now = monotonic_ns()) {
        const std::uint64_t left = until - now;
        timespec pause{};
        pause.tv_sec = static_cast<time_t>(left / kNsPerSecond);
        pause.tv_nsec = static_cast<long>(left % kNsPerSecond);
        nanosleep(&pause, nullptr);
    }
}

std::uint64_t clock_ms() { return monotonic_ns() / 1000000ULL; }
