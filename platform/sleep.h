#pragma once
#include <cstdint>

// Sleeps at least `ms` milliseconds (not woken early by signals).
void sleep_ms(std::uint32_t ms);

// Milliseconds on a clock that only goes forward, from an arbitrary start.
std::uint64_t clock_ms();
