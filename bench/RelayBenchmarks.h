#pragma once

#include <cstddef>

// Registers the benchmarks of the relay core for `players` connected players.
void RegisterRelayBenchmarks(std::size_t players);
// Registers the resident memory measurement up to `largest` players.
void RegisterMemoryBenchmark(std::size_t largest);
// Registers the receive backlog drain.
void RegisterBacklogBenchmark();
