#include "bench/RelayBenchmarks.h"
#include "program/ProcessSetup.h"
#include "testing/ProcessStats.h"

#include <benchmark/benchmark.h>

namespace {

// Descriptors kept for the benchmark program itself and the loopback pair of the backlog.
constexpr std::size_t SPARE_DESCRIPTORS = 100;

// The most players whose two descriptors each fit under the limit, in whole hundreds.
std::size_t LargestPlayerCount() {
    const std::size_t limit = OpenFileLimit();
    if (limit < SPARE_DESCRIPTORS + 200) {
        return 0;
    }
    return (limit - SPARE_DESCRIPTORS) / 2 / 100 * 100;
}

}  // namespace

int main(int argc, char** argv) {
    ProcessNeeds needs;
    needs.manyDescriptors = true;
    SetUpProcess(needs);
    const std::size_t largest = LargestPlayerCount();

    // Memory first, before other benchmarks leave freed memory behind for it to reuse.
    RegisterMemoryBenchmark(largest);
    RegisterRelayBenchmarks(100);
    RegisterRelayBenchmarks(1000);
    if (largest > 1000) {
        RegisterRelayBenchmarks(largest);
    }
    RegisterBacklogBenchmark();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
