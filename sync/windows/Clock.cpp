#include "sync/Clock.h"

#include <windows.h>

// GetTickCount counts from system start, time asleep or hibernated included, and wraps after
// 49.7 days as the 32-bit result does.
std::uint32_t TickCount() {
    return static_cast<std::uint32_t>(GetTickCount());
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}
