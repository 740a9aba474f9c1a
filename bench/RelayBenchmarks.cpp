#include "bench/RelayBenchmarks.h"

#include "bench/EachFrameWrites.h"
#include "bench/RawServerEnds.h"
#include "bench/SendCounter.h"
#include "server/Delivery.h"
#include "server/ServerPass.h"
#include "testing/ProcessStats.h"
#include "testing/RelayHarness.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// The console lines of admissions and departures are not what is measured.
constexpr auto CONSOLE = MemoryConsole::Kind::Discarded;
// Full-length frames sent to every player of a new relay before any benchmark uses it.
constexpr int WARM_UP_BROADCASTS = 20;

// Bytes of this process's memory that are resident now.
std::size_t ResidentBytes() {
    return static_cast<std::size_t>(ResidentKilobytes(ThisProcess()).value_or(0)) * 1024;
}

// A frame with a full-length value of `fill` bytes, as its bytes on the wire.
std::vector<std::uint8_t> FullFrame(std::uint8_t id, PlayerId target, char fill) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size =
        EncodeFrame(Frame{id, target, std::string(MAX_VALUE_LENGTH, fill)}, bytes);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

// The frame that `bytes` hold, shown in place.
FrameView ViewOf(const std::vector<std::uint8_t>& bytes) {
    FrameView frame;
    ViewFrame(bytes.data(), bytes.size(), frame);
    return frame;
}

// Building thousands of connections takes far longer than one pass, so the benchmarks for one
// player count share one relay, built when the count changes. It is warmed up with a few
// broadcasts, so that the kernel's first sends on new connections (which cost more) fall on no
// benchmark and the benchmarks compare like with like whatever their order.
RelayHarness* RelayWith(std::size_t players) {
    static std::unique_ptr<RelayHarness> relay;
    if (relay && relay->GrownPlayers() == players) {
        return relay.get();
    }
    relay.reset();
    relay = std::make_unique<RelayHarness>(false, CONSOLE);
    if (!relay->GrowTo(players)) {
        relay.reset();
        return nullptr;
    }
    const std::vector<std::uint8_t> bytes = FullFrame(7, BROADCAST_ID, 'w');
    for (int round = 0; round < WARM_UP_BROADCASTS; ++round) {
        SendRelayMessage(relay->state, ViewOf(bytes), 0);
        FlushPlayerOutput(relay->state);
        relay->DrainGrownClients();
    }
    return relay.get();
}

// The processor time of one iteration divided among the players.
void SetPerPlayer(benchmark::State& state, std::size_t players) {
    state.counters["players"] = static_cast<double>(players);
    state.counters["cpu_per_player"] = benchmark::Counter(
        static_cast<double>(players),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One pass of the server with every player connected and silent.
void IdlePass(benchmark::State& state, std::size_t players) {
    RelayHarness* relay = RelayWith(players);
    if (relay == nullptr) {
        state.SkipWithError("the players could not be connected");
        return;
    }
    for (auto _ : state) {
        ServerPass(relay->state);
    }
    SetPerPlayer(state, players);
}

// How the relay writes what it relays: once per player at the end of the pass, or each frame at
// once, as it did before (see EachFrameWrites.h).
enum class Writes { OncePerPass, EachFrame };

// Counts the send calls of a benchmark's timed parts.
class SendsCounted {
public:
    void StartTimed() { before = SendCalls(); }
    void EndTimed() { sends += SendCalls() - before; }
    // The send calls of the timed parts, per iteration.
    void Report(benchmark::State& state) const {
        state.counters["send_calls"] =
            benchmark::Counter(static_cast<double>(sends), benchmark::Counter::kAvgIterations);
    }

private:
    std::uint64_t before = 0;
    std::uint64_t sends = 0;
};

// Reads what the clients have received; output the server still keeps for them is written,
// untimed, until none is left, so that no player falls behind from one iteration to the next.
void DrainEverything(RelayHarness& relay) {
    relay.DrainGrownClients();
    while (relay.state.registry.Activity().AnyKeptOutput()) {
        FlushPlayerOutput(relay.state);
        relay.DrainGrownClients();
    }
}

// Times `timed` on `players` players, after `prepare` (untimed; false ends the benchmark) and
// before the clients are drained (untimed), counting the send calls of the timed part.
void TimeWithDrains(benchmark::State& state, std::size_t players,
                    const std::function<bool(RelayHarness&)>& prepare,
                    const std::function<void(ServerState&)>& timed) {
    RelayHarness* relay = RelayWith(players);
    if (relay == nullptr) {
        state.SkipWithError("the players could not be connected");
        return;
    }
    SendsCounted counted;
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepare(*relay)) {
            state.SkipWithError("the frames did not all reach the server");
            return;
        }
        state.ResumeTiming();
        counted.StartTimed();
        timed(relay->state);
        counted.EndTimed();
        state.PauseTiming();
        DrainEverything(*relay);
        state.ResumeTiming();
    }
    SetPerPlayer(state, players);
    counted.Report(state);
}

// Relays `frame` and, when each frame is written at once, writes it.
void RelayOne(ServerState& server, const FrameView& frame, Writes writes) {
    if (writes == Writes::EachFrame) {
        RelayAndWriteAtOnce(server, frame, 0);
    } else {
        SendRelayMessage(server, frame, 0);
    }
}

// Times `relayFrames` followed by the writes that end a pass, on `players` players.
void TimeRelayAndWrites(benchmark::State& state, std::size_t players,
                        const std::function<void(ServerState&)>& relayFrames) {
    TimeWithDrains(
        state, players, [](RelayHarness&) { return true; },
        [&](ServerState& server) {
            relayFrames(server);
            FlushPlayerOutput(server);
        });
}

// One 255-byte broadcast sent to every player and written to each.
void BroadcastFanOut(benchmark::State& state, std::size_t players, Writes writes) {
    const std::vector<std::uint8_t> bytes = FullFrame(7, BROADCAST_ID, 'b');
    const FrameView frame = ViewOf(bytes);
    TimeRelayAndWrites(state, players,
                       [&](ServerState& server) { RelayOne(server, frame, writes); });
}

// The relay for `players` players, with the server ends of its connections placed in `ends`;
// null, with the benchmark skipped, when either could not all be had.
RelayHarness* RelayWithRawEnds(benchmark::State& state, std::size_t players,
                               std::optional<RawServerEnds>& ends) {
    RelayHarness* relay = RelayWith(players);
    if (relay == nullptr) {
        state.SkipWithError("the players could not be connected");
        return nullptr;
    }
    ends.emplace(*relay);
    if (ends->Count() != players) {
        state.SkipWithError("the server ends of the connections were not all found");
        return nullptr;
    }
    return relay;
}

// The floor under BroadcastFanOut: the same 259-byte frame written with one plain send to the
// server end of each player's connection, without the relay.
void RawSendFloor(benchmark::State& state, std::size_t players) {
    std::optional<RawServerEnds> ends;
    RelayHarness* relay = RelayWithRawEnds(state, players, ends);
    if (relay == nullptr) {
        return;
    }
    const std::vector<std::uint8_t> frame = FullFrame(7, BROADCAST_ID, 'b');
    std::size_t whole = 0;
    for (auto _ : state) {
        whole += ends->SendToEach(frame.data(), frame.size());
        state.PauseTiming();
        relay->DrainGrownClients();
        state.ResumeTiming();
    }
    if (whole != players * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a send did not take the whole frame");
    }
    SetPerPlayer(state, players);
}

// Client i sends `frames[i]`; then waits until the server's readiness test reports every
// sender, so that the frames are in the server's sockets. False when they do not arrive.
bool SendFromClients(RelayHarness& relay, const std::vector<std::vector<std::uint8_t>>& frames) {
    for (std::size_t index = 0; index < frames.size(); ++index) {
        relay.GrownClient(index).Send(frames[index].data(), static_cast<int>(frames[index].size()),
                                      0, nullptr);
    }
    return relay.WaitForReportedCount(frames.size());
}

// Times passes on `players` players, before each of which client i sends `frames[i]` (untimed).
void TimePassesAfterSends(benchmark::State& state, std::size_t players,
                          const std::vector<std::vector<std::uint8_t>>& frames,
                          Writes writes = Writes::OncePerPass) {
    TimeWithDrains(
        state, players, [&](RelayHarness& relay) { return SendFromClients(relay, frames); },
        [writes](ServerState& server) {
            if (writes == Writes::EachFrame) {
                PassWritingEachFrame(server);
            } else {
                ServerPass(server);
            }
        });
}

// One pass in which the first player's 255-byte broadcast is taken in and relayed to all the
// others.
void PassWithBroadcast(benchmark::State& state, std::size_t players) {
    TimePassesAfterSends(state, players, {FullFrame(7, BROADCAST_ID, 'p')});
}

// One pass in which every player has one 255-byte message to another player waiting in its
// socket: each is taken in and relayed.
void BusyPass(benchmark::State& state, std::size_t players, Writes writes) {
    std::vector<std::vector<std::uint8_t>> frames;
    // Client i is player i + 2 and sends to the next player, the last one to the first.
    for (std::size_t index = 0; index < players; ++index) {
        frames.push_back(
            FullFrame(9, static_cast<PlayerId>(FIRST_PLAYER_ID + (index + 1) % players), 'd'));
    }
    TimePassesAfterSends(state, players, frames, writes);
}

// One pass in which every player has one 255-byte message to player 2 waiting in its socket,
// player 2 itself included: all of them are relayed to the one host.
void FanIn(benchmark::State& state, std::size_t players, Writes writes) {
    const std::vector<std::vector<std::uint8_t>> frames(players,
                                                        FullFrame(9, FIRST_PLAYER_ID, 'h'));
    TimePassesAfterSends(state, players, frames, writes);
}

// The floor under FanIn's reads: the frame that each player has sent, taken with one plain
// receive from the server end of its connection, without the relay. What the kernel does for
// a receive (its acknowledgement to the sender included) is the part of a pass no way of
// writing can save.
void RawReadFloor(benchmark::State& state, std::size_t players) {
    std::optional<RawServerEnds> ends;
    RelayHarness* relay = RelayWithRawEnds(state, players, ends);
    if (relay == nullptr) {
        return;
    }
    const std::vector<std::vector<std::uint8_t>> frames(players,
                                                        FullFrame(9, FIRST_PLAYER_ID, 'h'));
    std::vector<std::uint8_t> area(64 * 1024);
    std::size_t taken = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!SendFromClients(*relay, frames)) {
            state.SkipWithError("the frames did not all reach the server");
            return;
        }
        state.ResumeTiming();
        taken += ends->ReceiveFromEach(area.data(), area.size());
    }
    if (taken != players * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a receive found nothing");
    }
    SetPerPlayer(state, players);
}

// The writing half of FanIn, without the reads: `players` frames relayed to player 2, then the
// writes that end the pass.
void FanInWrites(benchmark::State& state, std::size_t players, Writes writes) {
    const std::vector<std::uint8_t> bytes = FullFrame(9, FIRST_PLAYER_ID, 'h');
    const FrameView frame = ViewOf(bytes);
    TimeRelayAndWrites(state, players, [&](ServerState& server) {
        for (std::size_t sender = 0; sender < players; ++sender) {
            RelayOne(server, frame, writes);
        }
    });
}

// Registers `benchmark` for `players` players twice: writing once per pass, and each frame at
// once under the name with "/write:each_frame".
void RegisterBothWays(const std::string& name,
                      void (*benchmark)(benchmark::State&, std::size_t, Writes),
                      std::size_t players) {
    const std::string base = name + "/players:" + std::to_string(players);
    benchmark::RegisterBenchmark(base.c_str(), benchmark, players, Writes::OncePerPass)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "/write:each_frame").c_str(), benchmark, players,
                                 Writes::EachFrame)
        ->Unit(benchmark::kMicrosecond);
}

// The growth of resident memory while players connect, per player; both ends of every
// connection are in this process.
void ResidentMemory(benchmark::State& state, std::size_t largest) {
    for (auto _ : state) {
        RelayHarness relay(false, CONSOLE);
        const std::size_t empty = ResidentBytes();
        std::size_t previousPlayers = 0;
        std::size_t previousBytes = empty;
        for (const std::size_t players : {std::size_t{100}, std::size_t{1000}, largest}) {
            if (players <= previousPlayers) {
                continue;
            }
            if (!relay.GrowTo(players)) {
                state.SkipWithError("the players could not be connected");
                return;
            }
            const std::size_t bytes = ResidentBytes();
            state.counters["bytes_per_player_to_" + std::to_string(players)] =
                static_cast<double>(bytes - previousBytes) /
                static_cast<double>(players - previousPlayers);
            previousPlayers = players;
            previousBytes = bytes;
        }
        state.counters["bytes_per_player_overall"] =
            static_cast<double>(previousBytes - empty) / static_cast<double>(previousPlayers);
    }
}

}  // namespace

void RegisterRelayBenchmarks(std::size_t players) {
    const std::string suffix = "/players:" + std::to_string(players);
    benchmark::RegisterBenchmark(("IdlePass" + suffix).c_str(), IdlePass, players)
        ->Unit(benchmark::kMicrosecond);
    RegisterBothWays("BroadcastFanOut", BroadcastFanOut, players);
    benchmark::RegisterBenchmark(("RawSendFloor" + suffix).c_str(), RawSendFloor, players)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("PassWithBroadcast" + suffix).c_str(), PassWithBroadcast, players)
        ->Unit(benchmark::kMicrosecond);
    RegisterBothWays("BusyPass", BusyPass, players);
    RegisterBothWays("FanIn", FanIn, players);
    benchmark::RegisterBenchmark(("RawReadFloor" + suffix).c_str(), RawReadFloor, players)
        ->Unit(benchmark::kMicrosecond);
    RegisterBothWays("FanInWrites", FanInWrites, players);
}

void RegisterMemoryBenchmark(std::size_t largest) {
    benchmark::RegisterBenchmark("ResidentMemory", ResidentMemory, largest)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}
