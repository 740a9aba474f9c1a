#pragma once

#include "net/ReadinessSet.h"
#include "net/WakeSignal.h"
#include "server/ServerState.h"

#include <cstdint>
#include <optional>
#include <vector>

// When each pass begins. Without an interval, a pass follows 100 ms of sleep after the one
// before. With an interval from 1 ms, passes begin that far apart, start to start; a pass that
// runs late is followed at once by the next, with no burst to catch up. With 0, the pace waits
// on the players' readiness set, which then also holds the listener and a wake signal, and a
// pass begins as soon as one of them has something: input, a connection, room for kept output,
// a typed command, a stop request, or input on the operator's channels (control socket,
// metrics). A server with nothing to do then sleeps in that wait.
class PassPace {
public:
    PassPace(ServerState& state, std::optional<std::uint32_t> intervalMilliseconds);
    // Takes the listener and the wake signal out of the players' set again.
    ~PassPace();
    PassPace(const PassPace&) = delete;
    PassPace& operator=(const PassPace&) = delete;

    // Ends a wait for work; stop requests raise it too while the pace lives. One signal serves
    // every pace of the process and lives until the process ends.
    const WakeSignal& Wake() const { return wake; }
    // Returns when the next pass is due; `passStart` is when the pass just made began.
    void AwaitNextPass(SteadyClock::time_point passStart);

private:
    void AwaitWork();

    ServerState& state;
    const std::optional<std::uint32_t> interval;
    const WakeSignal& wake;
    std::vector<ReadyMember> ready;
    bool waitsForWork = false;
    bool listenerWatched = false;
    // The listener reported a connection before the last pass, and how many connections
    // admission had taken then; a pass that took none leaves the listener out of one wait.
    bool listenerReported = false;
    std::uint64_t connectionsTaken = 0;
    // The operator's channels ended the last wait, so they sit out the next.
    bool channelsSitOut = false;
};
