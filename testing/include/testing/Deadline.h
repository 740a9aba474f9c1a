#pragma once

#include <chrono>

// The milliseconds left before `deadline`, 0 once it has passed: the bound for the next wait of
// a loop that waits for a condition.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return left < 0 ? 0 : static_cast<int>(left);
}
