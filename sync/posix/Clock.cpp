#include "sync/Clock.h"
#include "sync/KillableWait.h"

#include <time.h>

#include <cerrno>

std::uint32_t TickCount() {
    // CLOCK_BOOTTIME, unlike CLOCK_MONOTONIC, goes on while the machine is suspended, as a tick
    // count since system start does.
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000u),
                       static_cast<long>(milliseconds % 1000u) * 1000000L};
    const KillableWait killable;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
