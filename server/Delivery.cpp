#include "server/Delivery.h"

namespace {

bool CanReceive(const NetSocket& endpoint) {
    return endpoint.IsOpen() && !(endpoint.Flags() & NS_SERVER);
}

// Sends and counts one relayed frame.
void Relay(ServerState& state, PlayerId to, NetSocket& endpoint, const std::uint8_t* bytes,
           std::size_t size) {
    if (endpoint.Send(bytes, static_cast<int>(size), 0, nullptr) == 0) {
        state.statistics.CountRelayed(to, size);
    }
}

}  // namespace

void SendRelayMessage(ServerState& state, const Frame& frame, PlayerId exclude) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(frame, bytes);
    if (size == 0) {
        return;
    }
    if (frame.target == BROADCAST_ID) {
        for (const auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(*endpoint)) {
                Relay(state, playerId, *endpoint, bytes, size);
            }
        }
        return;
    }
    const auto entry = state.registry.find(frame.target);
    if (entry != state.registry.end() && CanReceive(*entry->second)) {
        Relay(state, frame.target, *entry->second, bytes, size);
    }
}

void SendGreeting(ServerState& state, PlayerId id, const char* text) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(Frame{MSG_WELCOME, id, text}, bytes);
    const auto entry = state.registry.find(id);
    if (entry != state.registry.end() && CanReceive(*entry->second)) {
        entry->second->Send(bytes, static_cast<int>(size), 0, nullptr);
    }
}

void FlushPlayerOutput(ServerState& state) {
    for (const auto& [playerId, endpoint] : state.registry) {
        if (endpoint->PendingOutput() > 0) {
            endpoint->FlushPending();
        }
    }
}
