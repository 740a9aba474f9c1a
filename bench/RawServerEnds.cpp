#include "bench/RawServerEnds.h"

#include "net/RawStream.h"
#include "testing/RelayHarness.h"

RawServerEnds::RawServerEnds(RelayHarness& relay) {
    for (std::size_t index = 0; index < relay.GrownPlayers(); ++index) {
        const NetSocket* endpoint = relay.Endpoint(static_cast<PlayerId>(FIRST_PLAYER_ID + index));
        if (endpoint == nullptr) {
            return;
        }
        sockets.push_back(endpoint->Handle());
    }
}

std::size_t RawServerEnds::SendToEach(const void* data, std::size_t length) const {
    std::size_t whole = 0;
    for (const sockets::SocketHandle sock : sockets) {
        const StreamTransfer written = WriteSomeOn(sock, data, length);
        if (written.outcome == StreamOutcome::Moved && written.bytes == length) {
            ++whole;
        }
    }
    return whole;
}

std::size_t RawServerEnds::ReceiveFromEach(void* data, std::size_t capacity) const {
    std::size_t taken = 0;
    for (const sockets::SocketHandle sock : sockets) {
        if (ReadSomeOn(sock, data, capacity).outcome == StreamOutcome::Moved) {
            ++taken;
        }
    }
    return taken;
}
