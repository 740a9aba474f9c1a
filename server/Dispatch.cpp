#include "server/Dispatch.h"

#include "protocol/DisplayableText.h"
#include "protocol/FrameSocket.h"
#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/Players.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint32_t NO_PLAYER = std::uint32_t{LAST_PLAYER_ID} + 1;

// The smallest member of `set` from `from` on, or NO_PLAYER.
std::uint32_t Member(const PlayerIdSet& set, std::uint32_t from) {
    const std::optional<PlayerId> id = set.NextFrom(from);
    return id ? *id : NO_PLAYER;
}

void ShowMessage(ServerState& state, PlayerId sender) {
    const Frame& message = state.message;
    // The value is shown as text, up to its first NUL.
    ConsolePrint(state.console,
                 "Received a message.\n"
                 "ID \t= %i\n"
                 "From \t= %i\n"
                 "Value \t= %s (%i)\n",
                 static_cast<int>(message.id), static_cast<int>(sender),
                 DisplayableText(message.value.c_str()).c_str(),
                 static_cast<int>(message.value.size()));
}

// Notes whether a whole message waits in the player's buffer.
void NoteWholeMessage(PlayerActivity& activity, PlayerId id, NetSocket& endpoint) {
    if (WholeFrameBuffered(endpoint)) {
        activity.wholeMessage.Insert(id);
    } else {
        activity.wholeMessage.Erase(id);
    }
}

enum class Turn { Next, EndsPass };

// One player's turn: when its socket reported something or a send to it failed, its liveness
// test and what it has sent; then at most one whole message from its buffer.
Turn TakeTurn(ServerState& state, PlayerRegistry::const_iterator entry, bool reported) {
    NetSocket& endpoint = *entry->second;
    if (reported) {
        if (!endpoint.IsConnected()) {
            // Gone since the sweep: removed before its buffered frames are taken, as the
            // sweep would have.
            RemovePlayer(state, entry);
            return Turn::Next;
        }
        endpoint.ReceiveAvailable();
    }
    const bool taken = TakeWholeFrame(endpoint, state.message);
    NoteWholeMessage(state.registry.Activity(), entry->first, endpoint);
    if (!taken) {
        return Turn::Next;
    }
    const PlayerId sender = entry->first;
    const Frame& message = state.message;
    state.statistics.CountMessageIn(sender);
    if (message.id == MSG_LEAVE) {
        // The player said it is leaving: it is removed at once, and whatever it sent after
        // the leave message is never relayed.
        RemovePlayer(state, entry);
        return Turn::Next;
    }
    if (message.target != SERVER_ID) {
        SendRelayMessage(state, message, sender);
    }
    if (message.target == BROADCAST_ID || message.target == SERVER_ID) {
        if (state.displayMessages) {
            ShowMessage(state, sender);
        }
        return Turn::EndsPass;
    }
    return Turn::Next;
}

// Gives a turn, in ascending id order from `from` to `to`, to each player whose socket reported
// something, that has a whole message buffered, or a send to which has failed, also during this
// walk. Returns the id whose message ended the pass, or NO_PLAYER.
std::uint32_t WalkTurns(ServerState& state, const std::vector<PlayerId>& reported,
                        std::uint32_t from, std::uint32_t to) {
    const PlayerActivity& activity = state.registry.Activity();
    auto nextReported = std::lower_bound(reported.begin(), reported.end(), from);
    for (;;) {
        while (nextReported != reported.end() && *nextReported < from) {
            ++nextReported;
        }
        std::uint32_t id = nextReported != reported.end() ? *nextReported : NO_PLAYER;
        id = std::min(id, Member(activity.wholeMessage, from));
        id = std::min(id, Member(activity.failedSend, from));
        if (id > to) {
            return NO_PLAYER;
        }
        from = id + 1;
        const auto entry = state.registry.find(static_cast<PlayerId>(id));
        if (entry == state.registry.end()) {
            continue;
        }
        const bool wasReported = nextReported != reported.end() && *nextReported == id;
        const bool failed = activity.failedSend.Contains(entry->first);
        if (TakeTurn(state, entry, wasReported || failed) == Turn::EndsPass) {
            return id;
        }
    }
}

}  // namespace

bool TakeInPlayerInput(ServerState& state, PlayerId id) {
    const auto entry = state.registry.find(id);
    if (entry == state.registry.end()) {
        return false;
    }
    entry->second->ReceiveAvailable();
    NoteWholeMessage(state.registry.Activity(), id, *entry->second);
    return true;
}

void DispatchMessages(ServerState& state) {
    const std::vector<PlayerId> reported = ReportedPlayers(state);
    if (!state.fairTurns) {
        WalkTurns(state, reported, FIRST_PLAYER_ID, LAST_PLAYER_ID);
        return;
    }
    // From the player after the one whose message ended the last pass, round to it again.
    std::uint32_t ender = WalkTurns(state, reported, state.lastPassEnder + 1u, LAST_PLAYER_ID);
    if (ender == NO_PLAYER) {
        ender = WalkTurns(state, reported, FIRST_PLAYER_ID, state.lastPassEnder);
    }
    if (ender != NO_PLAYER) {
        state.lastPassEnder = static_cast<PlayerId>(ender);
    }
}
