#include "server/PassPace.h"

#include "program/StopRequest.h"
#include "server/OperatorChannels.h"
#include "sync/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

constexpr unsigned DEFAULT_SLEEP_MS = 100;
// After a wait that the operator's channels ended, the next leaves them out for this long at
// most: a channel socket that stays ready without being served (a listener that cannot accept
// for want of a descriptor) then costs a few passes a second instead of a busy loop.
constexpr int CHANNELS_SIT_OUT_MS = 10;
// The keys of the pace's own members of the players' set; player ids start above them.
constexpr std::uint32_t LISTENER_KEY = 0;
constexpr std::uint32_t WAKE_KEY = 1;
static_assert(WAKE_KEY < FIRST_PLAYER_ID);

// The wake signal of the process's paces: it lives until the process ends, so that a stop
// request handled on another thread never reaches one that is being closed.
const WakeSignal& ProcessWake() {
    static const WakeSignal signal;
    return signal;
}

// The wake signal that stop requests raise, while a pace that waits for work lives.
std::atomic<const WakeSignal*> stopWake{nullptr};

void RaiseStopWake() {
    if (const WakeSignal* signal = stopWake.load()) {
        signal->Raise();
    }
}

std::uint64_t ConnectionsTaken(const ServerStatistics& statistics) {
    return statistics.admitted + statistics.refused;
}

}  // namespace

PassPace::PassPace(ServerState& served, std::optional<std::uint32_t> intervalMilliseconds)
    : state(served), interval(intervalMilliseconds), wake(ProcessWake()) {
    // Raises meant for an earlier pace are not this one's.
    wake.Clear();
    if (interval != std::optional<std::uint32_t>(0)) {
        return;
    }
    ReadinessSet& readiness = state.registry.Readiness();
    waitsForWork = readiness.Join(wake, WAKE_KEY) == 0;
    if (!waitsForWork) {
        return;
    }
    state.registry.WatchRoomForKeptOutput();
    stopWake = &wake;
    NotifyStopRequests(RaiseStopWake);
}

PassPace::~PassPace() {
    if (!waitsForWork) {
        return;
    }
    NotifyStopRequests(nullptr);
    stopWake = nullptr;
    ReadinessSet& readiness = state.registry.Readiness();
    if (listenerWatched) {
        readiness.Leave(state.listener);
    }
    readiness.Leave(wake);
}

void PassPace::AwaitNextPass(SteadyClock::time_point passStart) {
    if (!interval) {
        SleepMilliseconds(DEFAULT_SLEEP_MS);
        return;
    }
    if (*interval > 0) {
        const auto due = passStart + std::chrono::milliseconds(*interval);
        const auto now = SteadyClock::now();
        if (due > now) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            SleepMilliseconds(static_cast<unsigned>(left.count()));
        }
        return;
    }
    if (!waitsForWork) {
        SleepMilliseconds(DEFAULT_SLEEP_MS);
        return;
    }
    AwaitWork();
}

void PassPace::AwaitWork() {
    const PlayerActivity& activity = state.registry.Activity();
    ReadinessSet& readiness = state.registry.Readiness();
    // A waiting connection that admission could not take (no descriptor left) keeps the
    // listener ready: it sits out one wait, so that admission is tried again at the default
    // pace instead of in a busy loop.
    const bool listenerStalled =
        listenerReported && ConnectionsTaken(state.statistics) == connectionsTaken;
    const bool watchListener = !listenerStalled && state.listener.IsOpen();
    if (watchListener && !listenerWatched) {
        listenerWatched = readiness.Join(state.listener, LISTENER_KEY) == 0;
    } else if (!watchListener && listenerWatched) {
        readiness.Leave(state.listener);
        listenerWatched = false;
    }
    int timeout = -1;
    if (activity.WorkLeft()) {
        // Work is left from the last pass.
        timeout = 0;
    } else if (channelsSitOut) {
        timeout = CHANNELS_SIT_OUT_MS;
    } else if (!listenerWatched || !activity.AllWatched() || OperatorConnectionsOpen(state)) {
        // Something is not in the set, or an operator's connection has an answer to finish or
        // an idle limit to keep: look again at the default pace.
        timeout = static_cast<int>(DEFAULT_SLEEP_MS);
    }
    const std::vector<sockets::SocketHandle> channels =
        channelsSitOut ? std::vector<sockets::SocketHandle>() : OperatorChannelSockets(state);
    bool channelsReady = false;
    if (readiness.Wait(timeout, ready, channels, channelsReady) != 0) {
        SleepMilliseconds(DEFAULT_SLEEP_MS);
        ready.clear();
    }
    channelsSitOut = channelsReady;
    wake.Clear();
    listenerReported = std::any_of(ready.begin(), ready.end(), [](const ReadyMember& member) {
        return member.key == LISTENER_KEY;
    });
    connectionsTaken = ConnectionsTaken(state.statistics);
}
