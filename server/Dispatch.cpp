#include "server/Dispatch.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/Players.h"

namespace {

// Takes the message at the front of the player's buffer into `message` once all of it is
// there; a message that has arrived only in part stays in the buffer.
bool TakeWholeMessage(NetSocket& endpoint, RelayMessage& message) {
    std::uint8_t header[FRAME_HEADER_SIZE];
    if (endpoint.Peek(header, FRAME_HEADER_SIZE) != 0) {
        return false;
    }
    const FrameHeader decoded = DecodeHeader(header);
    if (endpoint.BufferedBytes() < FRAME_HEADER_SIZE + decoded.length) {
        return false;
    }
    endpoint.Read(header, FRAME_HEADER_SIZE);
    // A read of 0 bytes would take the whole buffer.
    if (decoded.length > 0) {
        endpoint.Read(message.value, decoded.length);
    }
    message.id = decoded.id;
    message.target = decoded.target;
    message.length = decoded.length;
    message.value[decoded.length] = '\0';
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
    for (auto entry = state.registry.begin(); entry != state.registry.end();) {
        NetSocket* endpoint = entry->second.get();
        if (endpoint == nullptr) {
            ++entry;
            continue;
        }
        if (!endpoint->IsConnected()) {
            entry = RemovePlayer(state, entry);
            continue;
        }
        endpoint->Receive(false);
        if (!TakeWholeMessage(*endpoint, state.message)) {
            ++entry;
            continue;
        }
        const PlayerId sender = entry->first;
        const RelayMessage& message = state.message;
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
