#include "tools/load/LoadOptions.h"

#include "protocol/DecimalNumber.h"

#include <cstdlib>
#include <cstring>

const char* const LOAD_USAGE =
    "usage: vor-load PORT [--players N] [--duration SECONDS] [--rate PER_SECOND]\n"
    "                     [--broadcasts PER_SECOND] [--drain SECONDS] [--broadcasters N]\n"
    "                     [--chaos SHARE] [--seed N] [--server-pid PID | --spawn PATH]\n"
    "                     [--idle]\n"
    "\n"
    "Load generator for a relay server listening on 127.0.0.1 PORT. Connects N players one\n"
    "after another, waiting for each to be greeted (the server admits one per pass, about\n"
    "10 per second, so 1000 players take about 100 s). Then, for SECONDS, every player sends\n"
    "directed frames to other players at --rate each, and the players together send\n"
    "--broadcasts broadcasts per second. Each value carries the sender's id, a sequence number\n"
    "and the send time. Checks that every frame arrives whole, in order per sender, at the\n"
    "players it was for (a broadcast at every player but its sender), waits up to --drain\n"
    "seconds for late frames, and reports players admitted, frames sent, deliveries, lost,\n"
    "corrupted, misrouted, duplicated and out-of-order frames, and the relay latency (median,\n"
    "99th percentile, max). Exit status 0 when every frame arrived whole and in order.\n"
    "\n"
    "The server relays at most one message per player per pass (10 passes per second), and a\n"
    "broadcast ends its pass, so the rates it can carry are below 10 per player in all; the\n"
    "defaults, 2 directed frames per player per second and 0.5 broadcasts per second, leave it\n"
    "room. Faster rates make frames queue, which shows as growing latency, not as loss.\n"
    "Run it against a server that has no other players: their frames count as corrupted.\n"
    "\n"
    "  --players N        players to connect, 2 to 65534 (default 50)\n"
    "  --duration S       seconds of traffic, 1 to 3600 (default 30)\n"
    "  --rate R           directed frames per player per second, 0 to 9 (default 2)\n"
    "  --broadcasts B     broadcasts per second from all players, 0 to 5 (default 0.5)\n"
    "  --drain S          seconds to wait for frames still on their way, 1 to 600 (default 10)\n"
    "  --idle             send nothing: hold the players for the duration, then leave; reports\n"
    "                     the admission time and the connections lost (for measuring a server\n"
    "                     that holds many quiet players)\n"
    "  --broadcasters N   that many well-behaved players send a broadcast every 100 ms (one\n"
    "                     per pass) and no directed frames; the report shows how many of each\n"
    "                     player's frames the server relayed by the end of the sending time\n"
    "  --chaos SHARE      that share of the players, 0 to 0.9, misbehave: between spells of\n"
    "                     ordinary frames each picks faults at random (reset in mid-frame,\n"
    "                     orderly close, half-close, stop reading for a while or for good,\n"
    "                     flood, frames a byte at a time or split, frames to ids nobody holds,\n"
    "                     leave message) and joins again with a new id after those that end\n"
    "                     its connection. Their frames are not counted as deliveries, but every\n"
    "                     frame anyone reads must be whole and addressed to its reader\n"
    "  --seed N           seeds every random choice, printed so that a run can be repeated\n"
    "  --server-pid PID   reports that process's resident memory at the start and at its highest\n"
    "  --spawn PATH       starts the server at PATH on PORT itself (PORT 0: a free port),\n"
    "                     watches its memory and its console, fails when it ends, and ends it\n"
    "                     after the run\n"
    "With a server to watch, the run fails when its resident memory passes 32 MiB plus\n"
    "64 KiB of input and 1 MiB of output per player.\n"
    "A run may expect at most 10 million deliveries.\n";

namespace {

constexpr double MAX_DELIVERIES = 1e7;
constexpr double MAX_CHAOS_SHARE = 0.9;
// Broadcasts per second of one of the --broadcasters players.
constexpr double BROADCASTER_RATE = 10.0;
constexpr long SERVER_BASE_KIB = 32 * 1024;
constexpr long PLAYER_BUFFERS_KIB = 64 + 1024;

bool ParseRate(const char* text, double largest, double& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed >= 0.0) || parsed > largest) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseCount(const char* text, std::uint64_t smallest, std::uint64_t largest, unsigned& value) {
    std::uint64_t parsed = 0;
    if (!ParseDecimal(text, largest, parsed) || parsed < smallest) {
        return false;
    }
    value = static_cast<unsigned>(parsed);
    return true;
}

}  // namespace

unsigned LoadOptions::ChaosPlayers() const {
    return static_cast<unsigned>(players * chaosShare + 0.5);
}

long ServerMemoryBoundKib(const LoadOptions& options) {
    return SERVER_BASE_KIB + static_cast<long>(options.players) * PLAYER_BUFFERS_KIB;
}

double ExpectedDeliveries(const LoadOptions& options) {
    const double seconds = options.durationSeconds;
    return options.players * options.rate * seconds +
           (options.broadcasts + options.broadcasters * BROADCASTER_RATE) * seconds *
               (options.players - 1);
}

bool ParseLoadOptions(int argc, const char* const* argv, LoadOptions& options, bool& help,
                      std::string& error) {
    help = false;
    bool havePort = false;
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            help = true;
            return true;
        }
        if (std::strcmp(argument, "--idle") == 0) {
            options.idle = true;
            continue;
        }
        if (argument[0] != '-') {
            std::uint64_t port = 0;
            if (havePort || !ParseDecimal(argument, 65535, port)) {
                error = std::string("unexpected argument '") + argument + "'";
                return false;
            }
            options.port = static_cast<std::uint16_t>(port);
            havePort = true;
            continue;
        }
        if (index + 1 >= argc) {
            error = std::string(argument) + " needs a value";
            return false;
        }
        const char* value = argv[++index];
        bool ok = false;
        if (std::strcmp(argument, "--players") == 0) {
            ok = ParseCount(value, 2, 65534, options.players);
        } else if (std::strcmp(argument, "--duration") == 0) {
            ok = ParseCount(value, 1, 3600, options.durationSeconds);
        } else if (std::strcmp(argument, "--drain") == 0) {
            ok = ParseCount(value, 1, 600, options.drainSeconds);
        } else if (std::strcmp(argument, "--rate") == 0) {
            ok = ParseRate(value, 9.0, options.rate);
        } else if (std::strcmp(argument, "--broadcasts") == 0) {
            ok = ParseRate(value, 5.0, options.broadcasts);
        } else if (std::strcmp(argument, "--broadcasters") == 0) {
            ok = ParseCount(value, 0, 9000, options.broadcasters);
        } else if (std::strcmp(argument, "--chaos") == 0) {
            ok = ParseRate(value, MAX_CHAOS_SHARE, options.chaosShare);
        } else if (std::strcmp(argument, "--seed") == 0) {
            ok = ParseDecimal(value, UINT64_MAX, options.seed);
            options.seedGiven = ok;
        } else if (std::strcmp(argument, "--server-pid") == 0) {
            ok = ParseCount(value, 1, 0x7FFFFFFF, options.serverPid);
        } else if (std::strcmp(argument, "--spawn") == 0) {
            options.spawnPath = value;
            ok = !options.spawnPath.empty();
        } else {
            error = std::string("unknown option ") + argument;
            return false;
        }
        if (!ok) {
            error = std::string("the value '") + value + "' of " + argument + " is out of range";
            return false;
        }
    }
    if (!havePort) {
        error = "the server's port is missing";
        return false;
    }
    if (options.port == 0 && options.spawnPath.empty()) {
        error = "port 0 is only for --spawn, which then picks a free port";
        return false;
    }
    if (options.SteadyPlayers() < 2) {
        error = "at least 2 players must behave well; lower --chaos or raise --players";
        return false;
    }
    if (options.broadcasters > options.SteadyPlayers()) {
        error = "--broadcasters is more than the well-behaved players";
        return false;
    }
    if (options.serverPid != 0 && !options.spawnPath.empty()) {
        error = "--server-pid and --spawn exclude each other";
        return false;
    }
    if (!options.idle && ExpectedDeliveries(options) > MAX_DELIVERIES) {
        error =
            "the run would expect more than 10 million deliveries; lower the players, "
            "duration or rates";
        return false;
    }
    return true;
}
