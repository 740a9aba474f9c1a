#include "tools/load/Admission.h"

#include "protocol/FrameSocket.h"
#include "sync/Clock.h"
#include "tools/load/Greeting.h"

namespace {

constexpr unsigned POLL_INTERVAL_MS = 1;

}  // namespace

std::unique_ptr<NetSocket> JoinServer(std::uint16_t port, unsigned timeoutMs, PlayerId& id,
                                      std::string& error) {
    auto endpoint = std::make_unique<NetSocket>();
    if (endpoint->Open(NS_TCP, port, "127.0.0.1") != 0) {
        error = "could not connect to 127.0.0.1 port " + std::to_string(port);
        return nullptr;
    }
    Frame greeting[2];
    int received = 0;
    const std::uint32_t start = TickCount();
    while (received < 2) {
        if (TakeFrame(*endpoint, greeting[received])) {
            ++received;
            continue;
        }
        if (!endpoint->IsConnected()) {
            error = "the server closed the connection before greeting the player";
            return nullptr;
        }
        if (TickCount() - start > timeoutMs) {
            error = "no greeting within " + std::to_string(timeoutMs) + " ms";
            return nullptr;
        }
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
    PlayerId named = 0;
    if (!IsGreeting(greeting[0], 0, named) || !IsGreeting(greeting[1], 1, named)) {
        error = "the greeting was not two welcome messages naming the player";
        return nullptr;
    }
    id = named;
    endpoint->EnableNoDelay();
    return endpoint;
}

std::unique_ptr<NetSocket> ConnectUngreeted(std::uint16_t port, std::string& error) {
    auto endpoint = std::make_unique<NetSocket>();
    if (endpoint->Open(NS_TCP, port, "127.0.0.1") != 0) {
        error = "could not connect to 127.0.0.1 port " + std::to_string(port);
        return nullptr;
    }
    endpoint->EnableNoDelay();
    return endpoint;
}
