#include "server/Delivery.h"

#include <cstring>

namespace {

bool CanReceive(const std::unique_ptr<NetSocket>& endpoint) {
    return endpoint && endpoint->IsOpen() && !(endpoint->Flags() & NS_SERVER);
}

// Sends and counts one relayed frame.
void Relay(ServerState& state, PlayerId to, NetSocket& endpoint, const std::uint8_t* frame,
           std::size_t size) {
    if (endpoint.Send(frame, static_cast<int>(size), 0, nullptr) == 0) {
        state.statistics.CountRelayed(to, size);
    }
}

}  // namespace

void SendRelayMessage(ServerState& state, std::uint8_t id, PlayerId target, const void* value,
                      std::uint8_t length, PlayerId exclude) {
    std::uint8_t frame[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(id, target, value, length, frame);
    if (target == BROADCAST_ID) {
        for (auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(endpoint)) {
                Relay(state, playerId, *endpoint, frame, size);
            }
        }
        return;
    }
    const auto entry = state.registry.find(target);
    if (entry != state.registry.end() && CanReceive(entry->second)) {
        Relay(state, target, *entry->second, frame, size);
    }
}

void SendGreeting(ServerState& state, PlayerId id, const char* text) {
    std::uint8_t frame[MAX_FRAME_SIZE];
    const std::size_t size =
        EncodeFrame(MSG_WELCOME, id, text, static_cast<std::uint8_t>(std::strlen(text)), frame);
    const auto entry = state.registry.find(id);
    if (entry != state.registry.end() && CanReceive(entry->second)) {
        entry->second->Send(frame, static_cast<int>(size), 0, nullptr);
    }
}

void FlushPlayerOutput(ServerState& state) {
    for (auto& [playerId, endpoint] : state.registry) {
        if (endpoint && endpoint->PendingOutput() > 0) {
            endpoint->FlushPending();
        }
    }
}
