#pragma once

#include <cstdint>

// Milliseconds since the system started, wrapping at 32 bits.
std::uint32_t TickCount();

void SleepMilliseconds(unsigned milliseconds);
