#include "sync/Clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace {

// Seconds since boot, time suspended included, as the kernel reports them; negative when they
// cannot be read.
double UptimeSeconds() {
    std::ifstream uptime("/proc/uptime");
    double seconds = -1;
    uptime >> seconds;
    return seconds;
}

}  // namespace

TEST(ClockUptimeTest, TickCountIsMillisecondsSinceBootAsUptimeCountsThem) {
    const double before = UptimeSeconds();
    const std::uint32_t ticks = TickCount();
    const double after = UptimeSeconds();
    ASSERT_GE(before, 0);
    // /proc/uptime has a resolution of 10 ms; the 32-bit count wraps after 49.7 days.
    const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(before * 1000) - 20);
    const auto span = static_cast<std::uint32_t>((after - before) * 1000) + 40;
    EXPECT_LE(static_cast<std::uint32_t>(ticks - low), span)
        << "tick count " << ticks << " against uptime " << before << " s";
}
