#include "server/Dispatch.h"

#include "protocol/DisplayableText.h"
#include "protocol/FrameSocket.h"
#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/PlayerActivity.h"
#include "server/Players.h"

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

void DispatchMessages(ServerState& state) {
    const PlayerActivity activity(state.registry);
    for (auto entry = state.registry.begin(); entry != state.registry.end();) {
        NetSocket* endpoint = entry->second.get();
        // A quiet player is connected and has nothing new; it may still hold whole messages.
        if (activity.NeedsAttention(entry->first, *endpoint)) {
            if (!endpoint->IsConnected()) {
                // Gone since the sweep: removed before its buffered frames are taken, as the
                // sweep would have.
                entry = RemovePlayer(state, entry);
                continue;
            }
            endpoint->Receive(false);
        }
        if (!TakeWholeFrame(*endpoint, state.message)) {
            ++entry;
            continue;
        }
        const PlayerId sender = entry->first;
        const Frame& message = state.message;
        if (message.id == MSG_LEAVE) {
            // The player said it is leaving: it is removed at once, and whatever it sent after
            // the leave message is never relayed.
            entry = RemovePlayer(state, entry);
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
        ++entry;
    }
}
