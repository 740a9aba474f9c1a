#pragma once

#include "server/ServerState.h"
#include "testing/LoopbackClient.h"
#include "testing/MemoryConsole.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A relay driven pass by pass inside this process: a server state whose listener is on a
// loopback port the system chose and whose console goes to memory, where the caller reads it.
// Clients connect over real loopback connections.
class RelayHarness {
public:
    explicit RelayHarness(bool displayMessages = false,
                          MemoryConsole::Kind consoleKind = MemoryConsole::Kind::Kept);
    ~RelayHarness();
    RelayHarness(const RelayHarness&) = delete;
    RelayHarness& operator=(const RelayHarness&) = delete;

    // The listener and the console are set up.
    bool Listening() const { return port != 0 && console.Stream() != nullptr; }
    std::uint16_t Port() const { return port; }

    void RunPass();
    // Runs passes until `done` holds; false when it still does not after a generous time.
    bool RunPassesUntil(const std::function<bool()>& done);

    // Connects a client and runs passes until the server has admitted it; its greetings are
    // left unread. Null when it is not admitted in time.
    std::unique_ptr<LoopbackClient> Connect();
    // Connects and reads the greetings; `id` is the player id they carry.
    std::unique_ptr<LoopbackClient> Join(PlayerId& id);

    // Takes in what player `id` has sent until the server holds at least `bytes` of it unread;
    // false when they do not arrive in time or the player is not registered.
    bool WaitForBuffered(PlayerId id, std::size_t bytes);
    // Sends one frame from the client of player `from` and waits until the server holds all of
    // it unread.
    bool Deliver(LoopbackClient& client, PlayerId from, std::uint8_t id, PlayerId target,
                 std::string_view value);
    // Waits, without taking anything in, until the server's readiness test reports player `id`
    // (its socket has input, an end or an error); false when it does not in time.
    bool WaitForReported(PlayerId id);
    // The same, until at least `count` players are reported.
    bool WaitForReportedCount(std::size_t count);
    // The endpoint of player `id`, or null.
    NetSocket* Endpoint(PlayerId id);

    // Connects players whose client ends are the socket library's own endpoints, admitting each
    // at once without a whole pass, until there are `count`; false when one could not join.
    // Each costs two descriptors.
    bool GrowTo(std::size_t count);
    std::size_t GrownPlayers() const { return grown.size(); }
    NetSocket& GrownClient(std::size_t index) { return *grown[index]; }
    // Reads and throws away what the grown players' clients have received.
    void DrainGrownClients();

    // Everything printed so far.
    std::string Console();
    // What was printed since the last call.
    std::string NewConsole();
    // How often `text` has been printed so far.
    std::size_t ConsoleCount(const std::string& text);

    ServerState state;

private:
    // Takes in what player `id`'s socket holds now, as the dispatch does when it visits a player,
    // and notes a whole message that it completes, so that the next dispatch handles it. False
    // when there is no such player.
    bool TakeInInput(PlayerId id);
    // Collects the readiness report until `enough` accepts it; false when it does not in time.
    bool WaitForReport(const std::function<bool(const std::vector<ReportedPlayer>&)>& enough);
    MemoryConsole console;
    std::size_t consoleTaken = 0;
    std::uint16_t port = 0;
    std::vector<std::unique_ptr<NetSocket>> grown;
};
