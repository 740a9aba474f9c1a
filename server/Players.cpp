#include "server/Players.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "sync/Clock.h"

#include <algorithm>
#include <cstdio>

namespace {

void SendGreeting(ServerState& state, PlayerId id, const char* text) {
    SendRelayMessage(state, Frame{MSG_WELCOME, id, text}, BROADCAST_ID);
}

}  // namespace

std::optional<PlayerId> LowestFreePlayerId(const PlayerRegistry& registry) {
    // The registry is ordered, so the first id that is not the next expected one is free.
    unsigned candidate = FIRST_PLAYER_ID;
    for (auto entry = registry.lower_bound(FIRST_PLAYER_ID); entry != registry.end(); ++entry) {
        if (entry->first != candidate) {
            break;
        }
        ++candidate;
    }
    if (candidate > LAST_PLAYER_ID) {
        return std::nullopt;
    }
    return static_cast<PlayerId>(candidate);
}

void AdmitPlayer(ServerState& state) {
    if (!state.listener.IsOpen() || !(state.listener.Flags() & NS_SERVER)) {
        return;
    }
    std::unique_ptr<NetSocket> endpoint(state.listener.Accept());
    if (!endpoint) {
        return;
    }
    const std::string peer = endpoint->PeerAddress();
    const std::optional<PlayerId> id = LowestFreePlayerId(state.registry);
    if (!id) {
        ConsolePrint(state.console, "Refused a connection from %s: every player ID is taken.\n",
                     peer.c_str());
        return;
    }
    endpoint->EnableNoDelay();
    endpoint->SetReceiveLimit(PLAYER_RECEIVE_LIMIT);
    state.registry.Add(*id, std::move(endpoint));

    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(*id));
    SendGreeting(state, *id, text);
    // The tick count is shown as a signed 32-bit number, as players expect it.
    std::snprintf(text, sizeof text, "%d",
                  static_cast<int>(static_cast<std::int32_t>(TickCount())));
    SendGreeting(state, *id, text);
    // The greetings leave in one write before the pass goes on.
    FlushPlayerOutput(state, *id);

    ConsolePrint(state.console, "New connection from %s, assigned to player ID %i.\n", peer.c_str(),
                 static_cast<int>(*id));
}

std::vector<PlayerId> ReportedPlayers(ServerState& state) {
    std::vector<PlayerId> ids;
    if (!state.registry.Activity().Reported(ids)) {
        for (const auto& entry : state.registry) {
            ids.push_back(entry.first);
        }
    }
    return ids;
}

void SweepPlayers(ServerState& state) {
    std::vector<PlayerId> tested = ReportedPlayers(state);
    const PlayerIdSet& failed = state.registry.Activity().failedSend;
    for (auto id = failed.NextFrom(0); id; id = failed.NextFrom(*id + 1u)) {
        tested.push_back(*id);
    }
    std::sort(tested.begin(), tested.end());
    tested.erase(std::unique(tested.begin(), tested.end()), tested.end());
    for (const PlayerId id : tested) {
        const auto entry = state.registry.find(id);
        // Before the dispatch, so that no frame is relayed to a player whose connection is gone
        // and who will never read it.
        if (entry != state.registry.end() && !entry->second->IsConnected()) {
            RemovePlayer(state, entry);
        }
    }
}

PlayerRegistry::const_iterator RemovePlayer(ServerState& state,
                                            PlayerRegistry::const_iterator entry) {
    ConsolePrint(state.console, "Player %i left.\n", static_cast<int>(entry->first));
    return state.registry.Remove(entry);
}
