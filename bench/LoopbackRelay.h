#pragma once

#include "net/NetSocket.h"
#include "server/ServerState.h"

#include <cstdio>
#include <memory>
#include <vector>

// A server state with a listener on a free loopback port and players connected to it over real
// loopback connections, whose client ends live in the same process. Each player costs two
// descriptors.
class LoopbackRelay {
public:
    LoopbackRelay();
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    // Connects and admits players until there are `count`; false when one could not join.
    bool GrowTo(std::size_t count);
    std::size_t Players() const { return clients.size(); }

    ServerState& Server() { return state; }
    NetSocket& Client(std::size_t index) { return *clients[index]; }
    // Reads and throws away what the clients have received.
    void DrainClients();

private:
    ServerState state;
    std::vector<std::unique_ptr<NetSocket>> clients;
};
