#include "server/Delivery.h"

namespace {

bool CanReceive(const std::unique_ptr<NetSocket>& endpoint) {
    return endpoint && endpoint->IsOpen() && !(endpoint->Flags() & NS_SERVER);
}

}  // namespace

void SendRelayMessage(ServerState& state, std::uint8_t id, PlayerId target, const void* value,
                      std::uint8_t length, PlayerId exclude) {
    std::uint8_t frame[MAX_FRAME_SIZE];
    const auto size = static_cast<int>(EncodeFrame(id, target, value, length, frame));
    if (target == BROADCAST_ID) {
        for (auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(endpoint)) {
                endpoint->Send(frame, size, 0, nullptr);
            }
        }
        return;
    }
    const auto entry = state.registry.find(target);
    if (entry != state.registry.end() && CanReceive(entry->second)) {
        entry->second->Send(frame, size, 0, nullptr);
    }
}

void FlushPlayerOutput(ServerState& state) {
    for (auto& [playerId, endpoint] : state.registry) {
        if (endpoint && endpoint->PendingOutput() > 0) {
            endpoint->FlushPending();
        }
    }
}
