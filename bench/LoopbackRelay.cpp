#include "bench/LoopbackRelay.h"

#include "server/Players.h"

namespace {

constexpr int ADMISSION_TRIES = 1000;

}  // namespace

LoopbackRelay::LoopbackRelay() {
    // The console lines of admissions and departures are not what is measured.
    state.console = std::fopen("/dev/null", "w");
    state.listener.Open(NS_TCP | NS_SERVER, 0, nullptr);
}

LoopbackRelay::~LoopbackRelay() {
    // The server ends close first, so the lingering connection states stay on the server side
    // and do not hold the clients' ephemeral ports.
    state.registry.clear();
    clients.clear();
    if (state.console != nullptr) {
        std::fclose(state.console);
    }
}

bool LoopbackRelay::GrowTo(std::size_t count) {
    if (!state.listener.IsOpen() || state.console == nullptr) {
        return false;
    }
    while (clients.size() < count) {
        auto client = std::make_unique<NetSocket>();
        if (client->Open(NS_TCP, state.listener.LocalPort(), "127.0.0.1") != 0) {
            return false;
        }
        const std::size_t before = state.registry.size();
        for (int attempt = 0; attempt < ADMISSION_TRIES && state.registry.size() == before;
             ++attempt) {
            AdmitPlayer(state);
        }
        if (state.registry.size() == before) {
            return false;
        }
        clients.push_back(std::move(client));
    }
    DrainClients();
    return true;
}

void LoopbackRelay::DrainClients() {
    std::uint8_t scratch[RECEIVE_CHUNK];
    for (auto& client : clients) {
        client->Receive(false);
        while (client->BufferedBytes() > 0) {
            const std::uint32_t size =
                std::min<std::uint32_t>(client->BufferedBytes(), sizeof scratch);
            client->Read(scratch, size);
        }
    }
}
