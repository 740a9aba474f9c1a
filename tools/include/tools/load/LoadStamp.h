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
    // Sent by a player that misbehaves on purpose: its frames are checked where they are read but
    // not counted as deliveries.
    bool fromChaos = false;
    // The value takes all 255 bytes, whatever the sequence number.
    bool fullValue = false;
};

// The stamp that starts every value: 'V', 'L' ('V', 'C' from a misbehaving player, 'V', 'F' for a
// value of full length), sender (2 bytes), sequence (4 bytes) and send time (8 bytes),
// little-endian.
inline constexpr std::size_t STAMP_SIZE = 16;

// The frame as it goes on the wire: a message id from 1 to 254 and a value of 16 to 255 bytes
// (the stamp, then filler bytes of every value; 255 bytes for a full value), both derived from
// the stamp, so that a receiver can rebuild the exact frame.
Frame EncodeLoadFrame(const LoadFrame& frame);

// Reads sender, sequence, send time and origin from a value's stamp; false when the value has
// none.
bool ReadStamp(std::string_view value, LoadFrame& frame);

// True when the frame is exactly the one its stamp and target describe: nothing cut, added or
// changed. `stamp` receives what the stamp says.
bool IsIntactLoadFrame(const Frame& frame, LoadFrame& stamp);
