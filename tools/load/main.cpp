#include "net/NetSocket.h"
#include "net/ProcessSetup.h"
#include "protocol/FrameSocket.h"
#include "sync/Clock.h"
#include "tools/load/Admission.h"
#include "tools/load/DeliveryCheck.h"
#include "tools/load/LatencySummary.h"
#include "tools/load/LoadOptions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr unsigned ADMISSION_TIMEOUT_MS = 10000;
constexpr unsigned POLL_INTERVAL_MS = 2;
constexpr std::int64_t MICROS_PER_SECOND = 1000000;

struct LoadPlayer {
    PlayerId id = 0;
    std::unique_ptr<NetSocket> endpoint;
    std::uint32_t nextSequence = 0;
    std::int64_t nextDirectedMicros = 0;
    bool connected = true;
};

std::int64_t NowMicros() {
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 origin)
        .count();
}

double Seconds(std::int64_t micros) {
    return static_cast<double>(micros) / MICROS_PER_SECOND;
}

// Prints a progress line at most once a second; true when it printed one.
class Progress {
public:
    bool Due() {
        const std::int64_t now = NowMicros();
        if (now < next) {
            return false;
        }
        next = now + MICROS_PER_SECOND;
        return true;
    }

private:
    std::int64_t next = 0;
};

std::vector<LoadPlayer> AdmitPlayers(const LoadOptions& options) {
    std::vector<LoadPlayer> players;
    players.reserve(options.players);
    Progress progress;
    const std::int64_t start = NowMicros();
    while (players.size() < options.players) {
        LoadPlayer player;
        std::string error;
        player.endpoint = JoinServer(options.port, ADMISSION_TIMEOUT_MS, player.id, error);
        if (!player.endpoint) {
            std::printf("Player %zu of %u was not admitted: %s.\n", players.size() + 1,
                        options.players, error.c_str());
            break;
        }
        players.push_back(std::move(player));
        if (progress.Due()) {
            std::printf("admitted %zu of %u players\n", players.size(), options.players);
            std::fflush(stdout);
        }
    }
    const double seconds = Seconds(NowMicros() - start);
    std::printf("Admitted %zu of %u players in %.1f s (%.1f ms per player).\n", players.size(),
                options.players, seconds,
                players.empty() ? 0.0 : 1000.0 * seconds / static_cast<double>(players.size()));
    std::fflush(stdout);
    return players;
}

// Every player sends a leave message and closes.
void LeaveServer(std::vector<LoadPlayer>& players) {
    Frame leave;
    leave.id = MSG_LEAVE;
    leave.target = SERVER_ID;
    for (LoadPlayer& player : players) {
        SendFrame(*player.endpoint, leave);
        player.endpoint->Close();
    }
}

// Keeps the players connected and silent for the duration, looking at their connections every
// few seconds, then leaves; true when none was lost.
bool HoldIdle(const LoadOptions& options, std::vector<LoadPlayer>& players) {
    constexpr unsigned CHECK_INTERVAL_MS = 5000;
    std::printf("Holding %zu players idle for %u s.\n", players.size(), options.durationSeconds);
    std::fflush(stdout);
    const std::int64_t start = NowMicros();
    const std::int64_t end = start + options.durationSeconds * MICROS_PER_SECOND;
    std::size_t lost = 0;
    for (std::int64_t now = NowMicros(); now < end; now = NowMicros()) {
        const auto left = static_cast<unsigned>((end - now + 999) / 1000);
        SleepMilliseconds(std::min(CHECK_INTERVAL_MS, left));
        lost = 0;
        for (LoadPlayer& player : players) {
            lost += player.endpoint->IsConnected() ? 0u : 1u;
        }
        std::printf("%4.0f s: %zu of %zu connections lost\n", Seconds(NowMicros() - start), lost,
                    players.size());
        std::fflush(stdout);
    }
    LeaveServer(players);
    std::printf("\nPlayers admitted:    %zu of %u\nConnections lost:    %zu\n", players.size(),
                options.players, lost);
    return players.size() == options.players && lost == 0;
}

class LoadRun {
public:
    LoadRun(const LoadOptions& runOptions, std::vector<LoadPlayer>& runPlayers)
        : options(runOptions), players(runPlayers), check(PlayerIds(runPlayers)) {}

    void SendTraffic() {
        const std::int64_t start = NowMicros();
        const std::int64_t end = start + options.durationSeconds * MICROS_PER_SECOND;
        const std::int64_t directedInterval = Interval(options.rate);
        const std::int64_t broadcastInterval = Interval(options.broadcasts);
        // Spread the players' first sends over one interval, so the load is even.
        for (std::size_t index = 0; index < players.size(); ++index) {
            players[index].nextDirectedMicros =
                start + directedInterval * static_cast<std::int64_t>(index) /
                            static_cast<std::int64_t>(players.size());
        }
        std::int64_t nextBroadcast = start + broadcastInterval / 2;
        Progress progress;
        for (std::int64_t now = NowMicros(); now < end; now = NowMicros()) {
            for (std::size_t index = 0; index < players.size(); ++index) {
                LoadPlayer& player = players[index];
                while (player.nextDirectedMicros <= now) {
                    player.nextDirectedMicros += directedInterval;
                    Send(player, players[OtherPlayer(index)].id, now);
                }
            }
            while (nextBroadcast <= now) {
                nextBroadcast += broadcastInterval;
                Send(players[Pick(players.size())], BROADCAST_ID, now);
            }
            ReceiveAll();
            if (progress.Due()) {
                ShowProgress(Seconds(now - start));
            }
            SleepMilliseconds(POLL_INTERVAL_MS);
        }
    }

    // Waits for the frames still on their way, up to the drain time.
    void Drain() {
        const std::int64_t start = NowMicros();
        const std::int64_t end = start + options.drainSeconds * MICROS_PER_SECOND;
        Progress progress;
        progress.Due();
        while (!check.AllDelivered() && NowMicros() < end) {
            ReceiveAll();
            if (progress.Due()) {
                std::printf("draining: %llu deliveries outstanding\n",
                            static_cast<unsigned long long>(check.Counts().Missing()));
                std::fflush(stdout);
            }
            SleepMilliseconds(POLL_INTERVAL_MS);
        }
        ReceiveAll();
    }

    void Leave() { LeaveServer(players); }

    // Prints the report; true when every frame arrived whole, in order, where it should.
    bool Report(std::size_t requested) const {
        const DeliveryCounts& counts = check.Counts();
        const LatencySummary latency = SummarizeLatencies(check.Latencies());
        const auto number = [](std::uint64_t value) {
            return static_cast<unsigned long long>(value);
        };
        std::printf(
            "\n"
            "Players admitted:    %zu of %zu\n"
            "Frames sent:         %llu (%llu directed, %llu broadcasts)\n"
            "Deliveries expected: %llu\n"
            "Delivered:           %llu\n"
            "Lost:                %llu\n"
            "Corrupted:           %llu\n"
            "Misrouted:           %llu\n"
            "Duplicated:          %llu\n"
            "Out of order:        %llu\n"
            "Connections lost:    %u\n"
            "Relay latency:       median %.1f ms, p99 %.1f ms, max %.1f ms\n",
            players.size(), requested, number(counts.FramesSent()), number(counts.directedSent),
            number(counts.broadcastsSent), number(counts.expected), number(counts.delivered),
            number(counts.Missing()), number(counts.corrupted), number(counts.misrouted),
            number(counts.duplicated), number(counts.outOfOrder), connectionsLost,
            static_cast<double>(latency.median) / 1000.0, static_cast<double>(latency.p99) / 1000.0,
            static_cast<double>(latency.max) / 1000.0);
        return players.size() == requested && counts.Missing() == 0 && counts.corrupted == 0 &&
               counts.misrouted == 0 && counts.duplicated == 0 && counts.outOfOrder == 0 &&
               connectionsLost == 0;
    }

private:
    static std::vector<PlayerId> PlayerIds(const std::vector<LoadPlayer>& players) {
        std::vector<PlayerId> ids;
        for (const LoadPlayer& player : players) {
            ids.push_back(player.id);
        }
        return ids;
    }

    static std::int64_t Interval(double perSecond) {
        // A rate of 0 sends nothing within any run's duration.
        return perSecond > 0.0 ? static_cast<std::int64_t>(MICROS_PER_SECOND / perSecond)
                               : 3600 * MICROS_PER_SECOND * 2;
    }

    std::size_t Pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    }

    std::size_t OtherPlayer(std::size_t sender) {
        const std::size_t other = Pick(players.size() - 1);
        return other >= sender ? other + 1 : other;
    }

    void Send(LoadPlayer& sender, PlayerId target, std::int64_t now) {
        if (!sender.connected) {
            return;
        }
        const LoadFrame frame{sender.id, sender.nextSequence++, target, now};
        check.RecordSent(frame);
        if (SendFrame(*sender.endpoint, EncodeLoadFrame(frame)) != 0) {
            MarkLost(sender);
        }
    }

    void ReceiveAll() {
        Frame frame;
        for (LoadPlayer& player : players) {
            while (TakeFrame(*player.endpoint, frame)) {
                check.RecordReceived(player.id, frame, NowMicros());
            }
        }
    }

    void MarkLost(LoadPlayer& player) {
        if (player.connected) {
            player.connected = false;
            ++connectionsLost;
            std::printf("Player %u lost its connection.\n", static_cast<unsigned>(player.id));
        }
    }

    void ShowProgress(double elapsed) {
        for (LoadPlayer& player : players) {
            if (player.connected && !player.endpoint->IsConnected()) {
                MarkLost(player);
            }
        }
        const DeliveryCounts& counts = check.Counts();
        std::printf("%4.0f s: %llu frames sent, %llu of %llu deliveries arrived, %llu corrupted\n",
                    elapsed, static_cast<unsigned long long>(counts.FramesSent()),
                    static_cast<unsigned long long>(counts.delivered),
                    static_cast<unsigned long long>(counts.expected),
                    static_cast<unsigned long long>(counts.corrupted));
        std::fflush(stdout);
    }

    const LoadOptions& options;
    std::vector<LoadPlayer>& players;
    DeliveryCheck check;
    // Fixed, so that runs with the same options send the same pattern.
    std::mt19937_64 random{20261208};
    unsigned connectionsLost = 0;
};

}  // namespace

int main(int argc, char** argv) {
    LoadOptions options;
    bool help = false;
    std::string error;
    if (!ParseLoadOptions(argc, argv, options, help, error)) {
        std::fprintf(stderr, "vor-load: %s (see vor-load --help)\n", error.c_str());
        return 2;
    }
    if (help) {
        std::printf("%s", LOAD_USAGE);
        return 0;
    }
    IgnoreBrokenPipeSignal();
    RaiseDescriptorLimit();

    std::vector<LoadPlayer> players = AdmitPlayers(options);
    if (options.idle) {
        return HoldIdle(options, players) ? 0 : 1;
    }
    if (players.size() < 2) {
        std::fprintf(stderr, "vor-load: at least 2 players must be admitted\n");
        return 1;
    }
    LoadRun run(options, players);
    std::printf(
        "Sending for %u s: %.1f directed frames per player per second, %.1f broadcasts "
        "per second.\n",
        options.durationSeconds, options.rate, options.broadcasts);
    run.SendTraffic();
    run.Drain();
    run.Leave();
    return run.Report(options.players) ? 0 : 1;
}
