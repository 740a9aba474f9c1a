#include "server/Dispatch.h"

#include "protocol/DisplayableText.h"
#include "protocol/FrameSocket.h"
#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/Players.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t NO_PLAYER = std::uint32_t{LAST_PLAYER_ID} + 1;

// The id found, or NO_PLAYER.
std::uint32_t OrNoPlayer(std::optional<PlayerId> id) {
    return id ? *id : NO_PLAYER;
}

void ShowMessage(ServerState& state, const FrameView& message, PlayerId sender) {
    // The value is shown as text, up to its first NUL.
    const std::string_view value = message.Value();
    ConsolePrint(state.console,
                 "Received a message.\n"
                 "ID \t= %i\n"
                 "From \t= %i\n"
                 "Value \t= %s (%i)\n",
                 static_cast<int>(message.id), static_cast<int>(sender),
                 DisplayableText(value.substr(0, value.find('\0'))).c_str(),
                 static_cast<int>(value.size()));
}

// What a turn came to: no message, a message that leaves the pass going, or one to everybody or
// to the server, which ends a pass of one round.
enum class Turn { Next, Taken, EndsPass };

// What a player's turn starts with, before it takes a whole message from its buffer.
enum class TurnStart {
    // Nothing: its socket reported nothing and no send to it failed.
    BufferOnly,
    // Taking in its input: its socket reported input and nothing else.
    TakeIn,
    // A liveness test, then taking in its input: its socket reported more than input, or a send
    // to it failed.
    TestAndTakeIn,
};

// One player's turn: what `start` asks for, then at most one whole message from its buffer.
Turn TakeTurn(ServerState& state, PlayerRegistry::const_iterator entry, TurnStart start) {
    NetSocket& endpoint = *entry->second.endpoint;
    if (start == TurnStart::TestAndTakeIn && !endpoint.IsConnected()) {
        // Gone since the sweep: removed before its buffered frames are taken, as the sweep
        // would have.
        RemovePlayer(state, entry, Departure::Gone);
        return Turn::Next;
    }
    if (start != TurnStart::BufferOnly) {
        endpoint.ReceiveInPlace();
    }
    FrameView message;
    if (!PeekWholeFrame(endpoint, message)) {
        state.registry.NoteBufferedInput(entry);
        return Turn::Next;
    }
    const PlayerId sender = entry->first;
    state.statistics.CountMessageIn();
    state.registry.CountMessageIn(entry);
    if (message.id == MSG_LEAVE) {
        // The player said it is leaving: it is removed at once, and whatever it sent after
        // the leave message is never relayed.
        RemovePlayer(state, entry, Departure::Left);
        return Turn::Taken;
    }
    // The message is relayed and shown from where it lies in the buffer, then dropped from it.
    if (message.target != SERVER_ID) {
        SendRelayMessage(state, message, sender);
    }
    const bool endsPass = message.target == BROADCAST_ID || message.target == SERVER_ID;
    if (endsPass && state.options.displayMessages) {
        ShowMessage(state, message, sender);
    }
    endpoint.Discard(static_cast<std::uint32_t>(message.Size()));
    state.registry.NoteBufferedInput(entry);
    return endsPass ? Turn::EndsPass : Turn::Taken;
}

// How a player's turn starts: `reported` is its report, or null when its socket reported
// nothing.
TurnStart StartOfTurn(const ReportedPlayer* reported, bool sendFailed) {
    if (sendFailed || (reported != nullptr && !reported->onlyData)) {
        return TurnStart::TestAndTakeIn;
    }
    return reported != nullptr ? TurnStart::TakeIn : TurnStart::BufferOnly;
}

// How a walk of turns goes and what it came to.
struct Walk {
    // A message to everybody or to the server ends the walk (and the pass).
    bool endsOnBroadcast = true;
    // The player whose message was taken last, or NO_PLAYER.
    std::uint32_t lastSender = NO_PLAYER;
};

// Starts loading what the next reported players' turns use while this turn's receive runs: the
// record of the one after next, and the endpoint of the next, whose record the turn before
// started loading. The turns then seldom wait for memory.
void FetchAhead(const PlayerRegistry& registry, std::vector<ReportedPlayer>::const_iterator next,
                std::vector<ReportedPlayer>::const_iterator end) {
    if (end - next > 2) {
        registry.FetchRecordAhead(next[2].id);
    }
    if (end - next > 1) {
        registry.FetchEndpointAhead(next[1].id);
    }
}

// Gives a turn, in ascending id order from `from` to `to`, to each player whose socket reported
// something, that has a whole message buffered, or a send to which has failed, also during this
// walk. Returns the id whose message ended the walk, or NO_PLAYER.
std::uint32_t WalkTurns(ServerState& state, const std::vector<ReportedPlayer>& reported,
                        std::uint32_t from, std::uint32_t to, Walk& walk) {
    const PlayerActivity& activity = state.registry.Activity();
    auto nextReported = std::lower_bound(
        reported.begin(), reported.end(), from,
        [](const ReportedPlayer& player, std::uint32_t id) { return player.id < id; });
    for (;;) {
        while (nextReported != reported.end() && nextReported->id < from) {
            ++nextReported;
        }
        std::uint32_t id = nextReported != reported.end() ? nextReported->id : NO_PLAYER;
        id = std::min(id, OrNoPlayer(activity.NextWithWholeMessage(from)));
        id = std::min(id, OrNoPlayer(activity.NextWithFailedSend(from)));
        if (id > to) {
            return NO_PLAYER;
        }
        from = id + 1;
        const auto entry = state.registry.find(static_cast<PlayerId>(id));
        if (entry == state.registry.end()) {
            continue;
        }
        const bool wasReported = nextReported != reported.end() && nextReported->id == id;
        if (wasReported) {
            FetchAhead(state.registry, nextReported, reported.end());
        }
        const TurnStart start =
            StartOfTurn(wasReported ? &*nextReported : nullptr, activity.SendFailed(entry->first));
        const Turn turn = TakeTurn(state, entry, start);
        if (turn != Turn::Next) {
            walk.lastSender = id;
        }
        if (turn == Turn::EndsPass && walk.endsOnBroadcast) {
            return id;
        }
    }
}

// Up to `rounds` rounds of turns, each from `first` round to the player before it: the first
// round for every player with something to do, the others for those with a whole message left
// or a failed send. No message ends them early.
void WalkRounds(ServerState& state, const std::vector<ReportedPlayer>& reported,
                std::uint32_t first, std::uint32_t rounds) {
    const PlayerActivity& activity = state.registry.Activity();
    const std::vector<ReportedPlayer> none;
    Walk walk{false};
    for (std::uint32_t round = 0; round < rounds; ++round) {
        if (round > 0 && !activity.WorkLeft()) {
            break;
        }
        const std::vector<ReportedPlayer>& report = round == 0 ? reported : none;
        WalkTurns(state, report, first, LAST_PLAYER_ID, walk);
        if (first > FIRST_PLAYER_ID) {
            WalkTurns(state, report, FIRST_PLAYER_ID, first - 1, walk);
        }
    }
    if (state.options.fairTurns && walk.lastSender != NO_PLAYER) {
        state.lastPassEnder = static_cast<PlayerId>(walk.lastSender);
    }
}

}  // namespace

void DispatchMessages(ServerState& state, const std::vector<ReportedPlayer>& reported) {
    const ServerOptions& options = state.options;
    if (options.messagesPerPass > 1) {
        // With fair turns the rounds start after the player whose message was taken last.
        const bool wraps = !options.fairTurns || state.lastPassEnder == LAST_PLAYER_ID;
        const std::uint32_t first = wraps ? FIRST_PLAYER_ID : state.lastPassEnder + 1u;
        WalkRounds(state, reported, first, options.messagesPerPass);
        return;
    }
    Walk walk;
    if (!options.fairTurns) {
        WalkTurns(state, reported, FIRST_PLAYER_ID, LAST_PLAYER_ID, walk);
        return;
    }
    // From the player after the one whose message ended the last pass, round to it again.
    std::uint32_t ender =
        WalkTurns(state, reported, state.lastPassEnder + 1u, LAST_PLAYER_ID, walk);
    if (ender == NO_PLAYER) {
        ender = WalkTurns(state, reported, FIRST_PLAYER_ID, state.lastPassEnder, walk);
    }
    if (ender != NO_PLAYER) {
        state.lastPassEnder = static_cast<PlayerId>(ender);
    }
}
