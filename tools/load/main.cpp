#include "net/NetSocket.h"
#include "program/ProcessSetup.h"
#include "sync/Clock.h"
#include "tools/load/Admission.h"
#include "tools/load/LoadOptions.h"
#include "tools/load/LoadReport.h"
#include "tools/load/LoadSession.h"
#include "tools/load/RawConnection.h"
#include "tools/load/ServerWatch.h"
#include "vor/Version.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr unsigned ADMISSION_TIMEOUT_MS = 10000;
constexpr unsigned POLL_INTERVAL_MS = 2;
constexpr unsigned UNGREETED_SETTLE_MS = 2000;
constexpr std::int64_t MICROS_PER_SECOND = 1000000;

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

bool JoinChaosPlayer(LoadSession& session, std::string& error) {
    ChaosPlayer& player = session.AddChaos();
    const std::int64_t deadline = NowMicros() + ADMISSION_TIMEOUT_MS * std::int64_t{1000};
    while (!player.Joined()) {
        if (NowMicros() > deadline) {
            error = "a misbehaving player was not greeted within " +
                    std::to_string(ADMISSION_TIMEOUT_MS) + " ms";
            return false;
        }
        session.StepChaos(player);
        SleepMilliseconds(1);
    }
    return true;
}

// Joins the players one by one; which of them misbehave is drawn from the run's seed, so their
// ids are mixed with those of the well-behaved players. The count admitted.
std::size_t AdmitPlayers(const LoadOptions& options, LoadSession& session, ServerWatch& server) {
    std::vector<bool> misbehaves(options.players, false);
    std::fill_n(misbehaves.begin(), options.ChaosPlayers(), true);
    std::shuffle(misbehaves.begin(), misbehaves.end(), session.Random());
    Progress progress;
    const std::int64_t start = NowMicros();
    std::size_t admitted = 0;
    for (; admitted < options.players; ++admitted) {
        std::string error;
        bool joined = false;
        if (misbehaves[admitted]) {
            joined = JoinChaosPlayer(session, error);
        } else if (options.noGreeting) {
            auto endpoint = ConnectUngreeted(options.port, error);
            joined = endpoint != nullptr;
            if (joined) {
                session.AddSteady(static_cast<PlayerId>(FIRST_PLAYER_ID + admitted),
                                  std::move(endpoint));
            }
        } else {
            PlayerId id = 0;
            auto endpoint = JoinServer(options.port, ADMISSION_TIMEOUT_MS, id, error);
            joined = endpoint != nullptr;
            if (joined) {
                session.AddSteady(id, std::move(endpoint));
            }
        }
        if (!joined) {
            std::printf("Player %zu of %u was not admitted: %s.\n", admitted + 1, options.players,
                        error.c_str());
            break;
        }
        if (progress.Due()) {
            server.Sample();
            std::printf("admitted %zu of %u players\n", admitted + 1, options.players);
            std::fflush(stdout);
        }
    }
    if (options.noGreeting) {
        // Nothing tells when the server has taken a connection: it has them all by now.
        SleepMilliseconds(UNGREETED_SETTLE_MS);
    }
    const double seconds = Seconds(NowMicros() - start);
    std::printf("Admitted %zu of %u players in %.1f s (%.1f ms per player).\n", admitted,
                options.players, seconds,
                admitted == 0 ? 0.0 : 1000.0 * seconds / static_cast<double>(admitted));
    std::fflush(stdout);
    return admitted;
}

// Keeps the players connected and silent for the duration, looking at their connections and
// the server every few seconds, then leaves; true when every player was admitted and none was
// lost.
bool HoldIdle(const LoadOptions& options, LoadSession& session, ServerWatch& server,
              std::size_t admitted) {
    constexpr unsigned CHECK_INTERVAL_MS = 5000;
    std::printf("Holding %zu players idle for %u s.\n", admitted, options.durationSeconds);
    std::fflush(stdout);
    const std::int64_t start = NowMicros();
    const std::int64_t end = start + options.durationSeconds * MICROS_PER_SECOND;
    for (std::int64_t now = NowMicros(); now < end && !server.Gone(); now = NowMicros()) {
        const auto left = static_cast<unsigned>((end - now + 999) / 1000);
        SleepMilliseconds(std::min(CHECK_INTERVAL_MS, left));
        session.CheckConnections();
        server.Sample();
        std::printf("%4.0f s: %u connections lost\n", Seconds(NowMicros() - start),
                    session.ConnectionsLost());
        std::fflush(stdout);
    }
    session.Leave();
    std::printf("\nPlayers admitted:    %zu of %u\nConnections lost:    %u\n", admitted,
                options.players, session.ConnectionsLost());
    return admitted == options.players && session.ConnectionsLost() == 0 && !server.Gone();
}

void ShowProgress(const LoadSession& session, double elapsed) {
    const DeliveryCounts& counts = session.Check().Counts();
    std::printf("%4.0f s: %llu frames sent, %llu of %llu deliveries arrived, %llu corrupted",
                elapsed, static_cast<unsigned long long>(counts.FramesSent()),
                static_cast<unsigned long long>(counts.delivered),
                static_cast<unsigned long long>(counts.expected),
                static_cast<unsigned long long>(counts.corrupted));
    if (session.ChaosCount() > 0) {
        std::printf(", %llu faults injected",
                    static_cast<unsigned long long>(session.Tally().FaultsInjected()));
    }
    std::printf("\n");
    std::fflush(stdout);
}

void SendTraffic(const LoadOptions& options, LoadSession& session, ServerWatch& server) {
    const std::int64_t start = NowMicros();
    const std::int64_t end = start + options.durationSeconds * MICROS_PER_SECOND;
    session.Begin();
    Progress progress;
    for (std::int64_t now = NowMicros(); now < end && !server.Gone(); now = NowMicros()) {
        session.Tick(true);
        if (progress.Due()) {
            session.CheckConnections();
            server.Sample();
            ShowProgress(session, Seconds(now - start));
        }
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
}

// Waits for the frames still on their way, up to the drain time.
void Drain(const LoadOptions& options, LoadSession& session, ServerWatch& server) {
    const std::int64_t end = NowMicros() + options.drainSeconds * MICROS_PER_SECOND;
    Progress progress;
    progress.Due();
    while (!session.Check().AllDelivered() && NowMicros() < end && !server.Gone()) {
        session.Tick(false);
        if (progress.Due()) {
            server.Sample();
            std::printf("draining: %llu deliveries outstanding\n",
                        static_cast<unsigned long long>(session.Check().Counts().Missing()));
            std::fflush(stdout);
        }
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
    session.Tick(false);
}

bool WatchServer(LoadOptions& options, ServerWatch& server) {
    if (!options.spawnPath.empty()) {
        std::string error;
        if (options.port == 0) {
            options.port = FreeLoopbackPort();
        }
        if (!server.Spawn(options.spawnPath, options.port, error, options.serverArguments)) {
            std::fprintf(stderr, "vor-load: %s\n", error.c_str());
            return false;
        }
        std::printf("Started %s (process %ld) on port %u.\n", options.spawnPath.c_str(),
                    server.Pid(), static_cast<unsigned>(options.port));
    } else if (options.serverPid != 0) {
        server.Attach(static_cast<long>(options.serverPid));
        if (server.Gone()) {
            std::fprintf(stderr, "vor-load: %s\n", server.HowItEnded().c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ProcessNeeds needs;
    needs.manyDescriptors = true;
    SetUpProcess(needs);
    LoadOptions options;
    std::string error;
    switch (ParseLoadOptions(argc, argv, options, error)) {
        case LoadRequest::ShowHelp:
            std::fputs(LoadUsage().c_str(), stdout);
            return 0;
        case LoadRequest::ShowVersion:
            std::printf("vor-load %s\n", VOR_VERSION);
            return 0;
        case LoadRequest::Refused:
            std::fprintf(stderr, "vor-load: %s (see vor-load --help)\n", error.c_str());
            return 2;
        case LoadRequest::Run:
            break;
    }
    if (!options.seedGiven) {
        options.seed =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    }
    std::printf("Seed %llu.\n", static_cast<unsigned long long>(options.seed));

    ServerWatch server;
    if (!WatchServer(options, server)) {
        return 1;
    }
    LoadSession session(options, options.seed, NowMicros);
    const std::size_t admitted = AdmitPlayers(options, session, server);
    if (session.Steady().size() < 2) {
        std::fprintf(stderr, "vor-load: at least 2 well-behaved players must be admitted\n");
        return 1;
    }
    if (options.idle) {
        return HoldIdle(options, session, server, admitted) ? 0 : 1;
    }
    std::printf(
        "Sending for %u s: %.1f directed frames per player per second, %.1f broadcasts "
        "per second, %u broadcasters, %zu misbehaving players.\n",
        options.durationSeconds, options.rate, options.broadcasts, options.broadcasters,
        session.ChaosCount());
    ServerProcessor processor;
    processor.atStart = server.ProcessorTime();
    const std::int64_t sendingStart = NowMicros();
    SendTraffic(options, session, server);
    processor.sendingMicros = NowMicros() - sendingStart;
    processor.afterSending = server.ProcessorTime();
    const auto relayedWhileSending = session.Check().Senders();
    Drain(options, session, server);
    processor.afterDrain = server.ProcessorTime();
    session.CheckConnections();
    session.Leave();
    // Gives the server a pass or two to notice the departures before the last look.
    SleepMilliseconds(300);
    server.Sample();

    PrintDeliveries(session.Check(), admitted, options.players, session.ConnectionsLost());
    if (options.broadcasters > 0) {
        PrintRelayedBySender(session.Steady(), relayedWhileSending);
    }
    if (session.ChaosCount() > 0) {
        PrintChaos(session.Tally(), session.Check().Counts(), session.ChaosCount());
    }
    const long boundKib = ServerMemoryBoundKib(options);
    PrintServer(server, boundKib);
    PrintServerProcessor(processor, session.Check().Counts().delivered);
    std::printf("Seed %llu.\n", static_cast<unsigned long long>(options.seed));

    const DeliveryCounts& counts = session.Check().Counts();
    const bool delivered = admitted == options.players && counts.Missing() == 0 &&
                           counts.corrupted == 0 && counts.misrouted == 0 &&
                           counts.duplicated == 0 && counts.outOfOrder == 0 &&
                           session.ConnectionsLost() == 0;
    const bool serverHeld = !server.Gone() && server.HighestKib() <= boundKib;
    return delivered && session.Tally().Clean() && serverHeld ? 0 : 1;
}
