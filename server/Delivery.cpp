#include "server/Delivery.h"

namespace {

bool CanReceive(const NetSocket& endpoint) {
    return endpoint.IsOpen() && !(endpoint.Flags() & NS_SERVER);
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

void SendTo(ServerState& state, PlayerId id, NetSocket& endpoint, const std::uint8_t* bytes,
            int size) {
    if (state.writeEachFrame) {
        endpoint.Send(bytes, size, 0, nullptr);
    } else {
        endpoint.SendLater(bytes, size);
    }
    NoteOutcome(state.registry.Activity(), id, endpoint);
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
                SendTo(state, playerId, *endpoint, bytes, size);
            }
        }
        return;
    }
    const auto entry = state.registry.find(frame.target);
    if (entry != state.registry.end() && CanReceive(*entry->second)) {
        SendTo(state, frame.target, *entry->second, bytes, size);
    }
}

void FlushPlayerOutput(ServerState& state) {
    const PlayerIdSet& kept = state.registry.Activity().keptOutput;
    for (auto id = kept.NextFrom(0); id; id = kept.NextFrom(*id + 1u)) {
        FlushPlayerOutput(state, *id);
    }
}

void FlushPlayerOutput(ServerState& state, PlayerId id) {
    const auto entry = state.registry.find(id);
    if (entry == state.registry.end()) {
        state.registry.Activity().keptOutput.Erase(id);
        return;
    }
    entry->second->FlushPending();
    NoteOutcome(state.registry.Activity(), id, *entry->second);
}
