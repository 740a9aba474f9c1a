#pragma once

#include "net/SocketHandle.h"

#include <cstddef>
#include <vector>

class RelayHarness;

// The server ends of a relay's loopback connections as plain sockets, taken from its players'
// endpoints, so that a frame can be written to each with one plain send and nothing of the
// relay in between: the floor that a fan-out is measured against. Reads are taken the same way,
// for the floor under a pass that takes one frame from each player.
class RawServerEnds {
public:
    // The sockets of the relay's grown players, whose ids run from the first player id up.
    explicit RawServerEnds(RelayHarness& relay);

    std::size_t Count() const { return sockets.size(); }
    // Writes `length` bytes with one send to each; how many sends took all of them.
    std::size_t SendToEach(const void* data, std::size_t length) const;
    // Reads up to `capacity` bytes with one receive from each, without waiting; how many
    // receives took at least one byte.
    std::size_t ReceiveFromEach(void* data, std::size_t capacity) const;

private:
    // Not owned: the relay's endpoints keep them.
    std::vector<sockets::SocketHandle> sockets;
};
