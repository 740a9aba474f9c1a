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
    PlayerActivity& activity = state.registry.Activity();
    const std::vector<PlayerId> reported = ReportedPlayers(state);
    auto nextReported = reported.begin();
    // Players are visited in ascending id order when their socket reported something, a whole
    // message waits in their buffer, or a send to them has failed, also during this walk.
    for (std::uint32_t from = FIRST_PLAYER_ID;;) {
        while (nextReported != reported.end() && *nextReported < from) {
            ++nextReported;
        }
        std::uint32_t id = nextReported != reported.end() ? *nextReported : NO_PLAYER;
        id = std::min(id, Member(activity.wholeMessage, from));
        id = std::min(id, Member(activity.failedSend, from));
        if (id == NO_PLAYER) {
            return;
        }
        from = id + 1;
        const auto entry = state.registry.find(static_cast<PlayerId>(id));
        if (entry == state.registry.end()) {
            continue;
        }
        NetSocket& endpoint = *entry->second;
        const bool wasReported = nextReported != reported.end() && *nextReported == id;
        if (wasReported || activity.failedSend.Contains(entry->first)) {
            if (!endpoint.IsConnected()) {
                // Gone since the sweep: removed before its buffered frames are taken, as the
                // sweep would have.
                RemovePlayer(state, entry);
                continue;
            }
            endpoint.ReceiveAvailable();
        }
        const bool taken = TakeWholeFrame(endpoint, state.message);
        NoteWholeMessage(activity, entry->first, endpoint);
        if (!taken) {
            continue;
        }
        const PlayerId sender = entry->first;
        const Frame& message = state.message;
        if (message.id == MSG_LEAVE) {
            // The player said it is leaving: it is removed at once, and whatever it sent after
            // the leave message is never relayed.
            RemovePlayer(state, entry);
            continue;
        }
        if (message.target != SERVER_ID) {
            SendRelayMessage(state, message, sender);
        }
        if (message.target == BROADCAST_ID || message.target == SERVER_ID) {
            if (state.displayMessages) {
                ShowMessage(state, sender);
            }
            return;
        }
    }
}
