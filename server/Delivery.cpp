#include "server/Delivery.h"

namespace {

bool CanReceive(const std::unique_ptr<NetSocket>& endpoint) {
    return endpoint && endpoint->IsOpen() && !(endpoint->Flags() & NS_SERVER);
}

// Notes what a send or a flush left behind: output kept for later, or a failed connection.
void NoteOutcome(PlayerActivity& activity, PlayerId id, const NetSocket& endpoint) {
    if (endpoint.HasFailed()) {
        activity.failedSend.Insert(id);
    }
    if (endpoint.PendingOutput() > 0) {
        activity.keptOutput.Insert(id);
    } else {
        activity.keptOutput.Erase(id);
    }
}

void SendTo(ServerState& state, PlayerId id, NetSocket& endpoint, const std::uint8_t* frame,
            int size) {
    if (state.writeEachFrame) {
        endpoint.Send(frame, size, 0, nullptr);
    } else {
        endpoint.SendLater(frame, size);
    }
    NoteOutcome(state.activity, id, endpoint);
}

}  // namespace

void SendRelayMessage(ServerState& state, std::uint8_t id, PlayerId target, const void* value,
                      std::uint8_t length, PlayerId exclude) {
    std::uint8_t frame[MAX_FRAME_SIZE];
    const auto size = static_cast<int>(EncodeFrame(id, target, value, length, frame));
    if (target == BROADCAST_ID) {
        for (auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(endpoint)) {
                SendTo(state, playerId, *endpoint, frame, size);
            }
        }
        return;
    }
    const auto entry = state.registry.find(target);
    if (entry != state.registry.end() && CanReceive(entry->second)) {
        SendTo(state, target, *entry->second, frame, size);
    }
}

void FlushPlayerOutput(ServerState& state) {
    const PlayerIdSet& kept = state.activity.keptOutput;
    for (auto id = kept.NextFrom(0); id; id = kept.NextFrom(*id + 1u)) {
        FlushPlayerOutput(state, *id);
    }
}

void FlushPlayerOutput(ServerState& state, PlayerId id) {
    const auto entry = state.registry.find(id);
    if (entry == state.registry.end() || !entry->second) {
        state.activity.keptOutput.Erase(id);
        return;
    }
    entry->second->FlushPending();
    NoteOutcome(state.activity, id, *entry->second);
}
