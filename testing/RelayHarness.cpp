#include "testing/RelayHarness.h"

#include "server/Players.h"
#include "server/ServerPass.h"
#include "sync/Clock.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Long enough for a loaded machine running under sanitizers; passing tests never wait for it.
constexpr auto WAIT_LIMIT = std::chrono::seconds(20);
// How often GrowTo tries to admit a client whose connection the listener has not shown yet.
constexpr int ADMISSION_TRIES = 1000;

}  // namespace

RelayHarness::RelayHarness(bool displayMessages, MemoryConsole::Kind consoleKind)
    : console(consoleKind) {
    state.console = console.Stream();
    state.options.displayMessages = displayMessages;
    if (state.listener.Open(NS_TCP | NS_SERVER, 0, nullptr) == 0) {
        port = state.listener.LocalPort();
    }
}

RelayHarness::~RelayHarness() {
    // The server's ends close first, so the lingering connection states stay on the server
    // side and do not hold the clients' ephemeral ports.
    state.registry.clear();
    grown.clear();
    state.listener.Close();
}

void RelayHarness::RunPass() {
    ServerPass(state);
}

bool RelayHarness::RunPassesUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + WAIT_LIMIT;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        RunPass();
    }
    return true;
}

std::unique_ptr<LoopbackClient> RelayHarness::Connect() {
    auto client = std::make_unique<LoopbackClient>(port);
    if (!client->Connected()) {
        return nullptr;
    }
    const std::size_t admitted = ConsoleCount("New connection from ");
    if (!RunPassesUntil([&] { return ConsoleCount("New connection from ") > admitted; })) {
        return nullptr;
    }
    return client;
}

std::unique_ptr<LoopbackClient> RelayHarness::Join(PlayerId& id) {
    auto client = Connect();
    if (!client) {
        return nullptr;
    }
    const auto greeted = client->ReadGreeting();
    if (!greeted) {
        return nullptr;
    }
    id = *greeted;
    return client;
}

NetSocket* RelayHarness::Endpoint(PlayerId id) {
    const auto entry = state.registry.find(id);
    return entry == state.registry.end() ? nullptr : entry->second.endpoint.get();
}

bool RelayHarness::TakeInInput(PlayerId id) {
    const auto entry = state.registry.find(id);
    if (entry == state.registry.end()) {
        return false;
    }
    entry->second.endpoint->ReceiveInPlace();
    state.registry.NoteBufferedInput(entry);
    return true;
}

bool RelayHarness::WaitForBuffered(PlayerId id, std::size_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + WAIT_LIMIT;
    for (;;) {
        if (!TakeInInput(id)) {
            return false;
        }
        if (Endpoint(id)->BufferedBytes() >= bytes) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
}

bool RelayHarness::WaitForReported(PlayerId id) {
    const auto isTheOne = [id](const ReportedPlayer& player) { return player.id == id; };
    return WaitForReport([&](const std::vector<ReportedPlayer>& reported) {
        return std::any_of(reported.begin(), reported.end(), isTheOne);
    });
}

bool RelayHarness::WaitForReportedCount(std::size_t count) {
    return WaitForReport(
        [count](const std::vector<ReportedPlayer>& reported) { return reported.size() >= count; });
}

bool RelayHarness::WaitForReport(
    const std::function<bool(const std::vector<ReportedPlayer>&)>& enough) {
    const auto deadline = std::chrono::steady_clock::now() + WAIT_LIMIT;
    std::vector<ReportedPlayer> reported;
    while (!state.registry.Reported(reported) || !enough(reported)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

bool RelayHarness::Deliver(LoopbackClient& client, PlayerId from, std::uint8_t id, PlayerId target,
                           std::string_view value) {
    NetSocket* endpoint = Endpoint(from);
    if (endpoint == nullptr) {
        return false;
    }
    const std::size_t before = endpoint->BufferedBytes();
    return client.SendFrame(id, target, value) &&
           WaitForBuffered(from, before + FRAME_HEADER_SIZE + value.size());
}

bool RelayHarness::GrowTo(std::size_t count) {
    if (!Listening()) {
        return false;
    }
    while (grown.size() < count) {
        auto client = std::make_unique<NetSocket>();
        if (client->Open(NS_TCP, port, "127.0.0.1") != 0) {
            return false;
        }
        const std::size_t before = state.registry.size();
        for (int attempt = 0; attempt < ADMISSION_TRIES && state.registry.size() == before;
             ++attempt) {
            AdmitPlayer(state, TickCount());
        }
        if (state.registry.size() == before) {
            return false;
        }
        grown.push_back(std::move(client));
    }
    DrainGrownClients();
    return true;
}

void RelayHarness::DrainGrownClients() {
    std::uint8_t scratch[RECEIVE_CHUNK];
    for (auto& client : grown) {
        client->Receive(false);
        while (client->BufferedBytes() > 0) {
            const std::uint32_t size =
                std::min<std::uint32_t>(client->BufferedBytes(), sizeof scratch);
            client->Read(scratch, size);
        }
    }
}

std::string RelayHarness::Console() {
    return console.Text();
}

std::string RelayHarness::NewConsole() {
    const std::string text = Console();
    const std::string fresh = text.substr(consoleTaken);
    consoleTaken = text.size();
    return fresh;
}

std::size_t RelayHarness::ConsoleCount(const std::string& text) {
    const std::string all = Console();
    std::size_t count = 0;
    for (auto position = all.find(text); position != std::string::npos;
         position = all.find(text, position + text.size())) {
        ++count;
    }
    return count;
}
