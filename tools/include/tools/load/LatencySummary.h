#pragma once

#include <cstdint>
#include <vector>

struct LatencySummary {
    std::int64_t median = 0;
    std::int64_t p99 = 0;
    std::int64_t max = 0;
};

// Nearest-rank percentiles of `samples`; all zero when there are none.
LatencySummary SummarizeLatencies(std::vector<std::int64_t> samples);
