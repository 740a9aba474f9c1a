#include "server/Players.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"

#include <algorithm>
#include <cstdio>

namespace {

// The reason a new connection from `address` is refused, or null when it may be admitted;
// `idFree` says whether a player id is free for it. `cause` is set with the reason.
const char* RefusalReason(const ServerState& state, const std::string& address, bool idFree,
                          char* text, std::size_t capacity, Refusal& cause) {
    const ServerOptions& options = state.options;
    if (options.maxPlayers != 0 && state.registry.size() >= options.maxPlayers) {
        std::snprintf(text, capacity, "the server is full (--max-players %u)",
                      static_cast<unsigned>(options.maxPlayers));
        cause = Refusal::Full;
        return text;
    }
    if (options.maxPerAddress != 0 &&
        state.registry.PlayersFrom(address) >= options.maxPerAddress) {
        std::snprintf(text, capacity, "too many players from that address (--max-per-address %u)",
                      static_cast<unsigned>(options.maxPerAddress));
        cause = Refusal::TooManyFromAddress;
        return text;
    }
    if (!idFree) {
        cause = Refusal::NoFreeId;
        return "every player ID is taken";
    }
    return nullptr;
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

void AdmitPlayer(ServerState& state, std::uint32_t tickCount) {
    if (!state.listener.IsOpen() || !(state.listener.Flags() & NS_SERVER)) {
        return;
    }
    std::unique_ptr<NetSocket> endpoint(state.listener.Accept());
    if (!endpoint) {
        return;
    }
    const std::string peer = endpoint->PeerAddress();
    const std::optional<PlayerId> id = LowestFreePlayerId(state.registry);
    char reasonText[96];
    Refusal cause = Refusal::Full;
    if (const char* reason =
            RefusalReason(state, peer, id.has_value(), reasonText, sizeof reasonText, cause)) {
        state.statistics.CountRefusal(cause);
        ConsolePrint(state.console, "Refused a connection from %s: %s.\n", peer.c_str(), reason);
        return;
    }
    endpoint->EnableNoDelay();
    endpoint->SetReceiveLimit(PLAYER_RECEIVE_LIMIT);
    state.registry.Add(*id, std::move(endpoint), peer);
    state.statistics.CountAdmission();

    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(*id));
    SendGreeting(state, *id, text);
    // The tick count is shown as a signed 32-bit number, as players expect it.
    std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<std::int32_t>(tickCount)));
    SendGreeting(state, *id, text);
    // The greetings leave in one write before the pass goes on.
    FlushPlayerOutput(state, *id);

    ConsolePrint(state.console, "New connection from %s, assigned to player ID %i.\n", peer.c_str(),
                 static_cast<int>(*id));
}

std::vector<ReportedPlayer> ReportedPlayers(ServerState& state) {
    std::vector<ReportedPlayer> players;
    if (!state.registry.Reported(players)) {
        for (const auto& entry : state.registry) {
            players.push_back(ReportedPlayer{entry.first, false});
        }
    }
    return players;
}

void SweepPlayers(ServerState& state, const std::vector<ReportedPlayer>& reported) {
    // A player with only input waiting is connected; the others that reported and those a
    // send to has failed are tested.
    std::vector<PlayerId> tested;
    for (const ReportedPlayer& player : reported) {
        if (!player.onlyData) {
            tested.push_back(player.id);
        }
    }
    const PlayerActivity& activity = state.registry.Activity();
    for (auto id = activity.NextWithFailedSend(0); id; id = activity.NextWithFailedSend(*id + 1u)) {
        tested.push_back(*id);
    }
    std::sort(tested.begin(), tested.end());
    tested.erase(std::unique(tested.begin(), tested.end()), tested.end());
    for (const PlayerId id : tested) {
        const auto entry = state.registry.find(id);
        // Before the dispatch, so that no frame is relayed to a player whose connection is gone
        // and who will never read it.
        if (entry != state.registry.end() && !entry->second.endpoint->IsConnected()) {
            RemovePlayer(state, entry, Departure::Gone);
        }
    }
}

void AnnounceDeparture(CommandAnswer& answer, PlayerId id) {
    answer.Print("Player %i left.\n", static_cast<int>(id));
}

PlayerRegistry::const_iterator RemovePlayer(ServerState& state,
                                            PlayerRegistry::const_iterator entry, Departure cause) {
    CommandAnswer console(state.console);
    AnnounceDeparture(console, entry->first);
    // However its connection ended, a player whose output passed the bound fell behind.
    const Departure counted = entry->second.endpoint->FellBehind() ? Departure::FellBehind : cause;
    state.statistics.CountDeparture(counted);
    return state.registry.Remove(entry);
}
