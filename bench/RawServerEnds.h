#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The server ends of a relay's loopback connections as the platform's own sockets, found by the
// listener's port, so that a frame can be written to each with one plain send and nothing of
// the relay in between: the floor that a fan-out is measured against. Reads are taken the same
// way, for the floor under a pass that takes one frame from each player.
class RawServerEnds {
public:
    // The connected stream sockets of this process whose local port is `port`.
    explicit RawServerEnds(std::uint16_t port);

    std::size_t Count() const { return descriptors.size(); }
    // Writes `length` bytes with one send to each; how many sends took all of them.
    std::size_t SendToEach(const void* data, std::size_t length) const;
    // Reads up to `capacity` bytes with one receive from each, without waiting; how many
    // receives took at least one byte.
    std::size_t ReceiveFromEach(void* data, std::size_t capacity) const;

private:
    std::vector<int> descriptors;
};
