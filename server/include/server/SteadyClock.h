#pragma once

#include <chrono>

// The clock the server measures durations with: uptime, pass times, time connected.
using SteadyClock = std::chrono::steady_clock;
