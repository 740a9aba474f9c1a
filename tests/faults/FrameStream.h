#pragma once

#include "testing/LoopbackClient.h"
#include "testing/TestFrames.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Frames that carry a sender number and a sequence number in front of a known filler, so that
// a receiver can tell a lost, repeated, reordered or corrupted frame from a good one.
std::vector<std::uint8_t> NumberedFrame(std::uint8_t id, std::uint16_t target, std::uint8_t sender,
                                        std::uint16_t sequence);
struct Numbered {
    std::uint8_t sender = 0;
    std::uint16_t sequence = 0;
};
// The numbers of a frame made by NumberedFrame; false when its value is not one.
bool ReadNumbers(const Frame& frame, Numbered& numbers);
