#pragma once

#include "server/ServerState.h"
#include "tests/support/TestClient.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

// Frames show up readably in failed expectations.
inline void PrintTo(const Frame& frame, std::ostream* out) {
    *out << "{id " << int{frame.id} << ", target " << frame.target << ", \"" << frame.value
         << "\" (" << frame.value.size() << ")}";
}

// A server driven pass by pass inside the test: its listener is on a free loopback port and its
// console goes to memory, where the test reads it.
class RelayHarness {
public:
    explicit RelayHarness(bool displayMessages = false);
    ~RelayHarness();
    RelayHarness(const RelayHarness&) = delete;
    RelayHarness& operator=(const RelayHarness&) = delete;

    bool Listening() const { return port != 0; }
    std::uint16_t Port() const { return port; }

    void RunPass();
    // Runs passes until `done` holds; false when it still does not after a generous time.
    bool RunPassesUntil(const std::function<bool()>& done);

    // Connects a client and runs passes until the server has admitted it; its greetings are
    // left unread. Null when it is not admitted in time.
    std::unique_ptr<TestClient> Connect();
    // Connects and reads the greetings; `id` is the player id they carry.
    std::unique_ptr<TestClient> Join(PlayerId& id);

    // Takes in what player `id` has sent until the server holds at least `bytes` of it unread;
    // false when they do not arrive in time or the player is not registered.
    bool WaitForBuffered(PlayerId id, std::size_t bytes);
    // Sends one frame from the client of player `from` and waits until the server holds all of
    // it unread.
    bool Deliver(TestClient& client, PlayerId from, std::uint8_t id, PlayerId target,
                 std::string_view value);
    // Waits, without taking anything in, until the server's readiness test reports player `id`
    // (its socket has input, an end or an error); false when it does not in time.
    bool WaitForReported(PlayerId id);
    // The endpoint of player `id`, or null.
    NetSocket* Endpoint(PlayerId id);

    // Everything printed so far.
    std::string Console();
    // What was printed since the last call.
    std::string NewConsole();
    // How often `text` has been printed so far.
    std::size_t ConsoleCount(const std::string& text);

    ServerState state;

private:
    std::FILE* console = nullptr;
    char* consoleText = nullptr;
    std::size_t consoleSize = 0;
    std::size_t consoleTaken = 0;
    std::uint16_t port = 0;
};
