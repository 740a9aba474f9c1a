#pragma once

#include "protocol/Frame.h"

#include <cstdint>
#include <string>
#include <string_view>

// One frame that a load player sends. The sequence number counts every frame of its sender,
// directed and broadcast, so each receiver sees a sender's numbers rise.
struct LoadFrame {
    PlayerId sender = 0;
    std::uint32_t sequence = 0;
    // A player id, or BROADCAST_ID for every other player.
    PlayerId target = 0;
    // Microseconds on the load tool's clock.
    std::int64_t sentMicros = 0;
};

// The stamp that starts every value: 'V', 'L', sender (2 bytes), sequence (4 bytes) and send
// time (8 bytes), little-endian.
inline constexpr std::size_t STAMP_SIZE = 16;

// The frame as it goes on the wire: a message id from 1 to 254 and a value of 16 to 255 bytes
// (the stamp, then filler bytes of every value), both derived from the sender and sequence, so
// that a receiver can rebuild the exact frame.
Frame EncodeLoadFrame(const LoadFrame& frame);

// Reads sender, sequence and send time from a value's stamp; false when the value has none.
bool ReadStamp(std::string_view value, LoadFrame& frame);
