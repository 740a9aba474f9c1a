#include "server/CleanStop.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/OperatorChannels.h"
#include "sync/Clock.h"

#include <chrono>

namespace {

constexpr std::chrono::seconds FLUSH_LIMIT{1};
constexpr unsigned FLUSH_RETRY_MS = 10;

}  // namespace

void StopServing(ServerState& state) {
    const auto deadline = SteadyClock::now() + FLUSH_LIMIT;
    for (;;) {
        FlushPlayerOutput(state);
        if (state.registry.Activity().keptOutput.Empty() || SteadyClock::now() >= deadline) {
            break;
        }
        SleepMilliseconds(FLUSH_RETRY_MS);
    }
    for (auto& [id, endpoint] : state.registry) {
        // Closing a socket that holds unread input resets the connection, and a reset can cost
        // the player frames it has not read yet; taking the input first makes it an orderly end.
        endpoint->SetReceiveLimit(0);
        endpoint->Receive(false);
    }
    // Each endpoint leaves the readiness set, then closes.
    state.registry.clear();
    state.statistics.players.clear();
    state.listener.Close();
    CloseOperatorChannels(state);
    ConsolePrint(state.console, "Server stopped.\n");
}
