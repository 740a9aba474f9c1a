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

// Sends one frame to a player and notes the outcome; Send's result.
int SendTo(ServerState& state, PlayerId to, NetSocket& endpoint, const std::uint8_t* bytes,
           std::size_t size) {
    const int result = endpoint.Send(bytes, static_cast<int>(size), 0, nullptr);
    NoteOutcome(state.registry.Activity(), to, endpoint);
    return result;
}

// Sends and counts one relayed frame.
void Relay(ServerState& state, PlayerId to, NetSocket& endpoint, const std::uint8_t* bytes,
           std::size_t size) {
    if (SendTo(state, to, endpoint, bytes, size) == 0) {
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
        SendTo(state, id, *entry->second, bytes, size);
    }
}

void FlushPlayerOutput(ServerState& state) {
    PlayerIdSet& kept = state.registry.Activity().keptOutput;
    for (auto id = kept.NextFrom(0); id; id = kept.NextFrom(*id + 1u)) {
        const auto entry = state.registry.find(*id);
        if (entry == state.registry.end()) {
            kept.Erase(*id);
            continue;
        }
        entry->second->FlushPending();
        NoteOutcome(state.registry.Activity(), *id, *entry->second);
    }
}
