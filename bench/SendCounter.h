#pragma once

#include <cstdint>

// How many times the process has called the platform's send so far, counted on the way to it,
// so that a benchmark can tell how many writes a pass made.
std::uint64_t SendCalls();
