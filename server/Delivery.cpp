#include "server/Delivery.h"

namespace {

bool CanReceive(const NetSocket& endpoint) {
    return endpoint.IsOpen() && !(endpoint.Flags() & NS_SERVER);
}

}  // namespace

void SendRelayMessage(ServerState& state, const Frame& frame, PlayerId exclude) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const auto size = static_cast<int>(EncodeFrame(frame, bytes));
    if (size == 0) {
        return;
    }
    if (frame.target == BROADCAST_ID) {
        for (const auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(*endpoint)) {
                endpoint->Send(bytes, size, 0, nullptr);
            }
        }
        return;
    }
    const auto entry = state.registry.find(frame.target);
    if (entry != state.registry.end() && CanReceive(*entry->second)) {
        entry->second->Send(bytes, size, 0, nullptr);
    }
}

void FlushPlayerOutput(ServerState& state) {
    for (const auto& [playerId, endpoint] : state.registry) {
        if (endpoint->PendingOutput() > 0) {
            endpoint->FlushPending();
        }
    }
}
