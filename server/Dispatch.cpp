#include "server/Dispatch.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/FrameReader.h"
#include "server/PlayerActivity.h"
#include "server/Players.h"

namespace {

// Takes the message at the front of the player's buffer into `message` once all of it is
// there.
bool TakeWholeMessage(NetSocket& endpoint, RelayMessage& message) {
    FrameHeader header{};
    if (!TakeWholeFrame(endpoint, header, reinterpret_cast<std::uint8_t*>(message.value))) {
        return false;
    }
    message.id = header.id;
    message.target = header.target;
    message.length = header.length;
    message.value[header.length] = '\0';
    return true;
}

void ShowMessage(ServerState& state, PlayerId sender) {
    const RelayMessage& message = state.message;
    ConsolePrint(state.console,
                 "Received a message.\n"
                 "ID \t= %i\n"
                 "From \t= %i\n"
                 "Value \t= %s (%i)\n",
                 static_cast<int>(message.id), static_cast<int>(sender),
                 DisplayableText(message.value).c_str(), static_cast<int>(message.length));
}

}  // namespace

void DispatchMessages(ServerState& state) {
    const PlayerActivity activity(state.registry);
    for (auto entry = state.registry.begin(); entry != state.registry.end();) {
        NetSocket* endpoint = entry->second.get();
        if (endpoint == nullptr) {
            ++entry;
            continue;
        }
        // A quiet player is connected and has nothing new; it may still hold whole messages.
        if (activity.NeedsAttention(entry->first, *endpoint)) {
            if (!endpoint->IsConnected()) {
                entry = RemovePlayer(state, entry);
                continue;
            }
            endpoint->Receive(false);
        }
        if (!TakeWholeMessage(*endpoint, state.message)) {
            ++entry;
            continue;
        }
        const PlayerId sender = entry->first;
        const RelayMessage& message = state.message;
        state.statistics.CountMessageIn(sender);
        if (message.id == MSG_LEAVE) {
            entry = RemovePlayer(state, entry);
            continue;
        }
        if (message.target != SERVER_ID) {
            SendRelayMessage(state, message.id, message.target, message.value, message.length,
                             sender);
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
