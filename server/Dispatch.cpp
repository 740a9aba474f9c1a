#include "server/Dispatch.h"

#include "protocol/DisplayableText.h"
#include "protocol/FrameSocket.h"
#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/PlayerActivity.h"
#include "server/Players.h"

#include <iterator>
#include <vector>

namespace {

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

}  // namespace

namespace {

enum class Turn { Next, EndsPass };

// One player's turn: takes in its bytes and handles at most one whole message. `next` becomes
// the entry after it, which is where a walk in id order goes on.
Turn TakeTurn(ServerState& state, const PlayerActivity& activity,
              PlayerRegistry::const_iterator entry, PlayerRegistry::const_iterator& next) {
    NetSocket* endpoint = entry->second.get();
    next = std::next(entry);
    // A quiet player is connected and has nothing new; it may still hold whole messages.
    if (activity.NeedsAttention(entry->first, *endpoint)) {
        if (!endpoint->IsConnected()) {
            // Gone since the sweep: removed before its buffered frames are taken, as the
            // sweep would have.
            next = RemovePlayer(state, entry);
            return Turn::Next;
        }
        endpoint->Receive(false);
    }
    if (!TakeWholeFrame(*endpoint, state.message)) {
        return Turn::Next;
    }
    const PlayerId sender = entry->first;
    const Frame& message = state.message;
    state.statistics.CountMessageIn(sender);
    if (message.id == MSG_LEAVE) {
        // The player said it is leaving: it is removed at once, and whatever it sent after
        // the leave message is never relayed.
        next = RemovePlayer(state, entry);
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

// From the player after the one whose message ended the last pass, round to it again.
void DispatchInFairTurns(ServerState& state, const PlayerActivity& activity) {
    std::vector<PlayerId> order;
    order.reserve(state.registry.size());
    const auto first = state.registry.lower_bound(static_cast<PlayerId>(state.lastPassEnder + 1));
    for (auto entry = first; entry != state.registry.end(); ++entry) {
        order.push_back(entry->first);
    }
    for (auto entry = state.registry.begin(); entry != first; ++entry) {
        order.push_back(entry->first);
    }
    // Players only leave during the walk; one that has left is passed over.
    for (const PlayerId id : order) {
        const auto entry = state.registry.find(id);
        PlayerRegistry::const_iterator next;
        if (entry != state.registry.end() &&
            TakeTurn(state, activity, entry, next) == Turn::EndsPass) {
            state.lastPassEnder = id;
            return;
        }
    }
}

}  // namespace

void DispatchMessages(ServerState& state) {
    const PlayerActivity activity(state.registry);
    if (state.fairTurns) {
        DispatchInFairTurns(state, activity);
        return;
    }
    for (auto entry = state.registry.begin(); entry != state.registry.end();) {
        PlayerRegistry::const_iterator next;
        if (TakeTurn(state, activity, entry, next) == Turn::EndsPass) {
            return;
        }
        entry = next;
    }
}
