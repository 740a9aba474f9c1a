#include "server/MetricsText.h"

#include "server/CommandAnswer.h"

#include <chrono>
#include <cinttypes>

namespace {

double Seconds(SteadyClock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void Describe(CommandAnswer& out, const char* name, const char* type, const char* help) {
    out.Print("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void Counter(CommandAnswer& out, const char* name, const char* help, std::uint64_t value) {
    Describe(out, name, "counter", help);
    out.Print("%s %" PRIu64 "\n", name, value);
}

void Gauge(CommandAnswer& out, const char* name, const char* help, double value) {
    Describe(out, name, "gauge", help);
    out.Print("%s %.9g\n", name, value);
}

void PassDurations(CommandAnswer& out, const ServerStatistics& counts) {
    const char* name = "vor_server_pass_duration_seconds";
    Describe(out, name, "histogram", "Time one pass took.");
    std::uint64_t cumulative = 0;
    for (std::size_t bucket = 0; bucket < PASS_BUCKETS; ++bucket) {
        cumulative += counts.passesByDuration[bucket];
        if (bucket + 1 < PASS_BUCKETS) {
            out.Print("%s_bucket{le=\"%g\"} %" PRIu64 "\n", name,
                      static_cast<double>(PASS_BUCKET_BOUNDS_US[bucket]) / 1e6, cumulative);
        } else {
            out.Print("%s_bucket{le=\"+Inf\"} %" PRIu64 "\n", name, cumulative);
        }
    }
    out.Print("%s_sum %.9g\n%s_count %" PRIu64 "\n", name, Seconds(counts.allPasses), name,
              counts.passes);
}

}  // namespace

std::string MetricsText(const ServerState& state) {
    const ServerStatistics& counts = state.statistics;
    std::string text;
    CommandAnswer out(text);
    std::size_t keptBytes = 0;
    for (const auto& entry : state.registry) {
        keptBytes += entry.second.endpoint->KeptOutput();
    }

    Gauge(out, "vor_server_players", "Players connected now.",
          static_cast<double>(state.registry.size()));
    Gauge(out, "vor_server_players_max", "The most players connected at once since the start.",
          static_cast<double>(counts.mostPlayers));
    Counter(out, "vor_server_admitted_total", "Connections admitted as players.", counts.admitted);

    Describe(out, "vor_server_refused_total", "counter", "Connections refused, by cause.");
    const char* refusals[] = {"full", "per_address", "no_free_id"};
    for (std::size_t cause = 0; cause < std::size(refusals); ++cause) {
        out.Print("vor_server_refused_total{cause=\"%s\"} %" PRIu64 "\n", refusals[cause],
                  counts.refusedBy[cause]);
    }
    Describe(out, "vor_server_removed_total", "counter", "Players removed, by cause.");
    const char* departures[] = {"left", "gone", "fell_behind", "kicked"};
    for (std::size_t cause = 0; cause < std::size(departures); ++cause) {
        out.Print("vor_server_removed_total{cause=\"%s\"} %" PRIu64 "\n", departures[cause],
                  counts.removedBy[cause]);
    }

    Counter(out, "vor_server_messages_received_total", "Whole messages taken from players.",
            counts.messagesIn);
    Counter(out, "vor_server_messages_relayed_total",
            "Messages written or kept for players, one per receiver.", counts.messagesRelayed);
    Counter(out, "vor_server_relayed_bytes_total", "Bytes of the relayed messages.",
            counts.bytesRelayed);
    Counter(out, "vor_server_passes_total", "Passes made.", counts.passes);
    PassDurations(out, counts);
    Gauge(out, "vor_server_last_pass_duration_seconds", "Time the latest pass took.",
          Seconds(counts.lastPass));
    Gauge(out, "vor_server_slowest_pass_duration_seconds", "Time the slowest pass took.",
          Seconds(counts.slowestPass));
    Gauge(out, "vor_server_kept_output_bytes",
          "Output kept for players whose sockets took no more.", static_cast<double>(keptBytes));
    Gauge(out, "vor_server_uptime_seconds", "Time since the server started.",
          Seconds(SteadyClock::now() - counts.startedAt));
    return text;
}
