#pragma once

#include <cstddef>

// What the benchmarks read about their own process.

// Bytes of the process's memory that are resident now.
std::size_t ResidentBytes();
// The soft limit on open descriptors.
std::size_t OpenFileLimit();
