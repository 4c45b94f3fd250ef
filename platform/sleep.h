#pragma once
#include <cstdint>

// Sleeps at least `ms` milliseconds (not woken early by signals).
void sleep_ms(std::uint32_t ms);
