#include "server/Delivery.h"

namespace {

bool CanReceive(const NetSocket& endpoint) {
    return endpoint.IsOpen() && !(endpoint.Flags() & NS_SERVER);
}

// Adds one relayed frame to a player's output and counts it when it was taken.
void Relay(ServerState& state, PlayerRegistry::const_iterator to, const std::uint8_t* bytes,
           std::size_t size) {
    if (state.registry.KeepOutput(to, bytes, size) == 0) {
        state.statistics.CountRelayed(size);
        state.registry.CountMessageOut(to);
    }
}

}  // namespace

void SendRelayMessage(ServerState& state, const FrameView& frame, PlayerId exclude) {
    // The frame leaves as it arrived: its bytes are appended to each receiver's output as they
    // are.
    PlayerRegistry& registry = state.registry;
    if (frame.target == BROADCAST_ID) {
        for (auto entry = registry.begin(); entry != registry.end(); ++entry) {
            if (entry->first != exclude && CanReceive(*entry->second.endpoint)) {
                Relay(state, entry, frame.bytes, frame.Size());
            }
        }
        return;
    }
    const auto entry = registry.find(frame.target);
    if (entry != registry.end() && CanReceive(*entry->second.endpoint)) {
        Relay(state, entry, frame.bytes, frame.Size());
    }
}

void SendGreeting(ServerState& state, PlayerId id, const char* text) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(Frame{MSG_WELCOME, id, text}, bytes);
    const auto entry = state.registry.find(id);
    if (entry != state.registry.end() && CanReceive(*entry->second.endpoint)) {
        state.registry.KeepOutput(entry, bytes, size);
    }
}

void FlushPlayerOutput(ServerState& state) {
    state.registry.FlushKeptOutput();
}

void FlushPlayerOutput(ServerState& state, PlayerId id) {
    const auto entry = state.registry.find(id);
    if (entry != state.registry.end()) {
        state.registry.Flush(entry);
    }
}
