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
    activity.NoteKeptOutput(id, endpoint, endpoint.KeptOutput() > 0);
}

// Adds one frame to a player's output (written at the end of the pass, or at once when the
// benchmarks ask for every frame written as it comes) and notes the outcome; 0 when it was taken.
int SendTo(ServerState& state, PlayerId to, NetSocket& endpoint, const std::uint8_t* bytes,
           std::size_t size) {
    const int length = static_cast<int>(size);
    const int result = state.writeEachFrame ? endpoint.Send(bytes, length, 0, nullptr)
                                            : endpoint.KeepOutput(bytes, length);
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

void SendRelayMessage(ServerState& state, const FrameView& frame, PlayerId exclude) {
    // The frame leaves as it arrived: its bytes are appended to each receiver's output as they
    // are.
    if (frame.target == BROADCAST_ID) {
        for (const auto& [playerId, endpoint] : state.registry) {
            if (playerId != exclude && CanReceive(*endpoint)) {
                Relay(state, playerId, *endpoint, frame.bytes, frame.Size());
            }
        }
        return;
    }
    const auto entry = state.registry.find(frame.target);
    if (entry != state.registry.end() && CanReceive(*entry->second)) {
        Relay(state, frame.target, *entry->second, frame.bytes, frame.Size());
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
    entry->second->FlushKeptOutput();
    NoteOutcome(state.registry.Activity(), id, *entry->second);
}
