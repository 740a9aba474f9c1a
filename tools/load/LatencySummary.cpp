#include "tools/load/LatencySummary.h"

#include <algorithm>

namespace {

// The sample at nearest rank ceil(percent / 100 * n) of the sorted samples.
std::int64_t Percentile(const std::vector<std::int64_t>& sorted, std::uint64_t percent) {
    const std::uint64_t rank = (percent * sorted.size() + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

}  // namespace

LatencySummary SummarizeLatencies(std::vector<std::int64_t> samples) {
    if (samples.empty()) {
        return LatencySummary{};
    }
    std::sort(samples.begin(), samples.end());
    return LatencySummary{Percentile(samples, 50), Percentile(samples, 99), samples.back()};
}
