#include "platform/sleep.h"

#include <cerrno>
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

}  // namespace

void sleep_ms(std::uint32_t ms) {
    ask_for_exact_wakeups();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec until = now;
    until.tv_sec += static_cast<time_t>(ms / 1000);
    until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

std::uint64_t clock_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}
