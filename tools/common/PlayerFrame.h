#pragma once

#include "net/NetSocket.h"
#include "server/RelayMessage.h"

#include <cstdint>
#include <string>

// One relay frame as a player sends or receives it.
struct PlayerFrame {
    std::uint8_t id = 0;
    PlayerId target = 0;
    // Opaque bytes, at most MAX_VALUE_LENGTH of them.
    std::string value;
};

// Takes the frame at the front of the endpoint's buffer once all of it has arrived; a frame that
// has arrived only in part stays buffered. False when no whole frame is there.
bool TakeFrame(NetSocket& endpoint, PlayerFrame& frame);

// Sends one frame; 1 when the endpoint refused it or the value is too long.
int SendFrame(NetSocket& endpoint, const PlayerFrame& frame);

// One readable line without its newline: id, target, length and the value with control bytes
// escaped, as in "id 7 target 4 length 5: hello".
std::string DescribeFrame(const PlayerFrame& frame);
