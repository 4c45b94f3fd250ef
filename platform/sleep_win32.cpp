#include "platform/sleep.h"

#include <windows.h>

void sleep_ms(std::uint32_t ms) { SleepEx(ms, FALSE); }

std::uint64_t clock_ms() { return GetTickCount64(); }
