#include "server/CleanStop.h"

#include "server/ConsoleOutput.h"
#include "server/Delivery.h"
#include "server/OperatorChannels.h"
#include "sync/Clock.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace {

constexpr std::chrono::seconds STOP_LIMIT{1};
constexpr unsigned STOP_RETRY_MS = 10;
// The most input dropped from one player in one round of the stop, so that a flooding player
// cannot hold the others' rounds up; what it sends past this waits for the next round.
constexpr std::size_t DROPPED_PER_ROUND = 1u << 20;
// The most dropped from one player just before the connections close, after the time is up:
// enough for what a player that is not flooding sent since the last round.
constexpr std::size_t DROPPED_AT_CLOSE = RECEIVE_AREA;

// Drops the player's buffered input and what its socket holds, in pieces no larger than its
// receive limit, so that the stop keeps the bound serving keeps. True when the socket holds no
// more input (or cannot be read); false when it still may after `most` bytes.
bool DropInput(NetSocket& endpoint, std::size_t most) {
    std::size_t dropped = 0;
    for (;;) {
        endpoint.Discard(endpoint.BufferedBytes());
        if (dropped >= most) {
            return false;
        }
        if (endpoint.ReceiveInPlace() != 0) {
            return true;
        }
        const std::uint32_t taken = endpoint.BufferedBytes();
        if (taken == 0) {
            return true;
        }
        dropped += taken;
    }
}

// Drops up to `most` bytes of input from every player whose socket reports some (every player
// when the test fails), until the deadline; true when none of them holds more.
bool DropReportedInput(ServerState& state, std::size_t most, SteadyClock::time_point deadline) {
    std::vector<ReportedPlayer> reported;
    std::vector<PlayerId> visits;
    if (state.registry.Reported(reported)) {
        for (const ReportedPlayer& player : reported) {
            visits.push_back(player.id);
        }
    } else {
        for (const auto& [id, record] : state.registry) {
            visits.push_back(id);
        }
    }
    bool drained = true;
    for (const PlayerId id : visits) {
        if (SteadyClock::now() >= deadline) {
            return false;
        }
        const auto entry = state.registry.find(id);
        if (entry != state.registry.end()) {
            drained = DropInput(*entry->second.endpoint, most) && drained;
        }
    }
    return drained;
}

}  // namespace

void StopServing(ServerState& state) {
    // Closing a socket that holds unread input resets the connection, and a reset can cost the
    // player frames it has not read yet; so the players' input is dropped while their output
    // is written, until both are done or the time is up.
    const auto deadline = SteadyClock::now() + STOP_LIMIT;
    for (;;) {
        FlushPlayerOutput(state);
        const bool inputDrained = DropReportedInput(state, DROPPED_PER_ROUND, deadline);
        if (inputDrained && !state.registry.Activity().AnyKeptOutput()) {
            break;
        }
        if (SteadyClock::now() >= deadline) {
            // What arrived since each player's last round, unless it keeps flooding.
            DropReportedInput(state, DROPPED_AT_CLOSE, SteadyClock::time_point::max());
            break;
        }
        SleepMilliseconds(STOP_RETRY_MS);
    }
    // Each endpoint leaves the readiness set, then closes, and the players are forgotten.
    state.registry.clear();
    state.listener.Close();
    CloseOperatorChannels(state);
    ConsolePrint(state.console, "Server stopped.\n");
}
