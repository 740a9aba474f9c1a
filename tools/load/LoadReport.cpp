#include "tools/load/LoadReport.h"

#include "tools/load/LatencySummary.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

unsigned long long Number(std::uint64_t value) {
    return static_cast<unsigned long long>(value);
}

double Milliseconds(std::int64_t micros) {
    return static_cast<double>(micros) / 1000.0;
}

// Players listed one by one in a class up to this size; above it, only the spread.
constexpr std::size_t LISTED_PLAYERS = 16;

void PrintClass(const char* name, const std::vector<PlayerId>& ids,
                const std::unordered_map<PlayerId, SenderTally>& tallies) {
    if (ids.empty()) {
        return;
    }
    std::vector<std::uint64_t> relayed;
    std::uint64_t sent = 0;
    std::string listing;
    for (const PlayerId id : ids) {
        const auto found = tallies.find(id);
        const SenderTally tally = found == tallies.end() ? SenderTally{} : found->second;
        relayed.push_back(tally.relayed);
        sent += tally.sent;
        listing += " " + std::to_string(id) + ":" + std::to_string(tally.relayed) + "/" +
                   std::to_string(tally.sent);
    }
    std::sort(relayed.begin(), relayed.end());
    std::printf(
        "Relayed, %-12s %zu players, of %.1f frames sent each: min %llu, median %llu, "
        "max %llu\n",
        name, ids.size(), static_cast<double>(sent) / static_cast<double>(ids.size()),
        Number(relayed.front()), Number(relayed[relayed.size() / 2]), Number(relayed.back()));
    if (ids.size() <= LISTED_PLAYERS) {
        std::printf("  relayed/sent by player:%s\n", listing.c_str());
    }
}

}  // namespace

void PrintDeliveries(const DeliveryCheck& check, std::size_t admitted, std::size_t requested,
                     unsigned connectionsLost) {
    const DeliveryCounts& counts = check.Counts();
    const LatencySummary latency = SummarizeLatencies(check.Latencies());
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
        admitted, requested, Number(counts.FramesSent()), Number(counts.directedSent),
        Number(counts.broadcastsSent), Number(counts.expected), Number(counts.delivered),
        Number(counts.Missing()), Number(counts.corrupted), Number(counts.misrouted),
        Number(counts.duplicated), Number(counts.outOfOrder), connectionsLost,
        Milliseconds(latency.median), Milliseconds(latency.p99), Milliseconds(latency.max));
}

void PrintRelayedBySender(const std::vector<LoadPlayer>& players,
                          const std::unordered_map<PlayerId, SenderTally>& tallies) {
    std::vector<PlayerId> broadcasters;
    std::vector<PlayerId> directed;
    for (const LoadPlayer& player : players) {
        (player.broadcaster ? broadcasters : directed).push_back(player.id);
    }
    PrintClass("broadcasters", broadcasters, tallies);
    PrintClass("directed", directed, tallies);
}

void PrintChaos(const ChaosTally& tally, const DeliveryCounts& counts, std::size_t chaosPlayers) {
    std::printf("Misbehaving players: %zu\n", chaosPlayers);
    std::printf("Faults injected:     %llu\n", Number(tally.FaultsInjected()));
    for (std::size_t kind = 0; kind < CHAOS_FAULT_KINDS; ++kind) {
        std::printf("  %-32s %llu\n", ChaosFaultName(static_cast<ChaosFault>(kind)),
                    Number(tally.faults[kind]));
    }
    std::printf(
        "Their frames:        %llu queued, %llu read intact by well-behaved players\n"
        "Frames they read:    %llu intact\n"
        "Reconnections:       %llu\n"
        "Removed by server:   %llu (%llu after the leave message, %llu after a half-close, %llu "
        "stopped readers past the output bound, %llu without cause)\n"
        "Stalled, not dropped: %llu readers gave up after 30 s\n"
        "Kept after leaving:  %llu\n"
        "Bad greetings:       %llu\n",
        Number(tally.framesSent), Number(counts.fromChaos), Number(counts.readByChaos),
        Number(tally.reconnections), Number(tally.EndedByServer()), Number(tally.endedAfterLeave),
        Number(tally.endedAfterHalfClose), Number(tally.droppedStoppedReaders),
        Number(tally.endedUnprovoked), Number(tally.stalledNotDropped),
        Number(tally.keptAfterLeaving), Number(tally.badGreetings));
    if (tally.droppedBehindFloods > 0) {
        std::printf(
            "Of those removed:    %llu past the output bound, owed more than 1 MiB of frames sent "
            "to them (floods relayed faster than they read)\n",
            Number(tally.droppedBehindFloods));
    }
}

void PrintServer(const ServerWatch& server, long boundKib) {
    if (!server.Watching()) {
        return;
    }
    std::printf(
        "Server memory:       %ld KiB at the start, %ld KiB at its highest (bound %ld KiB)\n",
        server.StartKib(), server.HighestKib(), boundKib);
    if (server.Spawned()) {
        std::printf("Server console:      %llu players admitted, %llu left\n",
                    Number(server.ConsoleAdmissions()), Number(server.ConsoleDepartures()));
    }
    if (server.Gone()) {
        std::printf("Server:              %s\n", server.HowItEnded().c_str());
    }
}

void PrintServerProcessor(const ServerProcessor& processor, std::uint64_t delivered) {
    if (processor.atStart < 0 || processor.afterSending < 0 || processor.afterDrain < 0) {
        return;
    }
    const auto sending = static_cast<double>(processor.afterSending - processor.atStart);
    const auto wholeRun = static_cast<double>(processor.afterDrain - processor.atStart);
    std::printf(
        "Server processor:    %.2f s over %.1f s of sending (%.1f %% of a core), %.2f us per "
        "delivered frame\n",
        sending / 1e6, static_cast<double>(processor.sendingMicros) / 1e6,
        processor.sendingMicros > 0 ? 100.0 * sending / static_cast<double>(processor.sendingMicros)
                                    : 0.0,
        delivered > 0 ? wholeRun / static_cast<double>(delivered) : 0.0);
}
