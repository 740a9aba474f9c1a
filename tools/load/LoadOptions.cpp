#include "tools/load/LoadOptions.h"

#include "protocol/DecimalNumber.h"

#include <cstdlib>
#include <cstring>

const char* const LOAD_USAGE =
    "usage: vor-load PORT [--players N] [--duration SECONDS] [--rate PER_SECOND]\n"
    "                     [--broadcasts PER_SECOND] [--drain SECONDS] [--broadcasters N]\n"
    "                     [--broadcaster-rate PER_SECOND] [--full-values] [--no-greeting]\n"
    "                     [--chaos SHARE] [--seed N] [--server-pid PID | --spawn PATH]\n"
    "                     [--server-args ARGUMENTS] [--idle] [-- SERVER_ARGUMENT...]\n"
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
    "At its default pace the server relays at most one message per player per pass (10 passes\n"
    "per second), and a broadcast ends its pass, so the rates it can carry are below 10 per\n"
    "player in all; the defaults, 2 directed frames per player per second and 0.5 broadcasts\n"
    "per second, leave it room. Faster rates make frames queue, which shows as growing\n"
    "latency, not as loss, unless the server runs at a faster pace (--server-args).\n"
    "Run it against a server that has no other players: their frames count as corrupted.\n"
    "\n"
    "  --players N        players to connect, 2 to 65534 (default 50)\n"
    "  --duration S       seconds of traffic, 1 to 3600 (default 30)\n"
    "  --rate R           directed frames per player per second, 0 to 1000 (default 2)\n"
    "  --broadcasts B     broadcasts per second from all players, 0 to 1000 (default 0.5)\n"
    "  --drain S          seconds to wait for frames still on their way, 1 to 600 (default 10)\n"
    "  --idle             send nothing: hold the players for the duration, then leave; reports\n"
    "                     the admission time and the connections lost (for measuring a server\n"
    "                     that holds many quiet players)\n"
    "  --broadcasters N   that many well-behaved players send broadcasts at --broadcaster-rate\n"
    "                     and no directed frames; the report shows how many of each player's\n"
    "                     frames the server relayed by the end of the sending time\n"
    "  --broadcaster-rate R\n"
    "                     broadcasts per second of each of the --broadcasters, 0.1 to 1000\n"
    "                     (default 10: one every 100 ms, one per pass of the default pace)\n"
    "  --full-values      every value of a well-behaved player is 255 bytes long (otherwise\n"
    "                     16 to 255 bytes, varying with the sequence number)\n"
    "  --no-greeting      for a server that greets nobody, such as a byte broker (ncat\n"
    "                     --broker) that relays every byte to all other connections: the players\n"
    "                     connect one after another and take ids by that order, wait 2 s for\n"
    "                     the server to take every connection, send only broadcasts (--rate 0,\n"
    "                     no --chaos) and leave by closing their connections\n"
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
    "  --server-args A    more arguments for the server that --spawn starts, separated by\n"
    "                     spaces, as in --server-args \"--pass-interval 0 --messages-per-pass "
    "64\";\n"
    "                     the words after -- are passed to it as well\n"
    "With a server to watch, the report also shows its processor time over the sending time\n"
    "(as a share of one core) and per delivered frame (counted from the start of the sending\n"
    "to the end of the drain), and the run fails when its resident memory passes 32 MiB plus\n"
    "64 KiB of input and 1 MiB of output per player.\n"
    "A run may expect at most 10 million deliveries.\n";

namespace {

constexpr double MAX_DELIVERIES = 1e7;
constexpr double MAX_CHAOS_SHARE = 0.9;
constexpr double MAX_RATE = 1000.0;
constexpr double MIN_BROADCASTER_RATE = 0.1;
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

// Appends the words of `text`, separated by spaces, to `words`; false when it has none.
bool SplitWords(const char* text, std::vector<std::string>& words) {
    const std::size_t before = words.size();
    std::string word;
    for (const char* at = text;; ++at) {
        if (*at == ' ' || *at == '\0') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
            if (*at == '\0') {
                break;
            }
            continue;
        }
        word += *at;
    }
    return words.size() > before;
}

// The reason a combination of options cannot run, or null when it can.
const char* Conflict(const LoadOptions& options) {
    if (options.port == 0 && options.spawnPath.empty()) {
        return "port 0 is only for --spawn, which then picks a free port";
    }
    if (options.SteadyPlayers() < 2) {
        return "at least 2 players must behave well; lower --chaos or raise --players";
    }
    if (options.broadcasters > options.SteadyPlayers()) {
        return "--broadcasters is more than the well-behaved players";
    }
    if (options.serverPid != 0 && !options.spawnPath.empty()) {
        return "--server-pid and --spawn exclude each other";
    }
    if (!options.serverArguments.empty() && options.spawnPath.empty()) {
        return "server arguments are only for a server that --spawn starts";
    }
    if (options.noGreeting && (options.rate > 0.0 || options.chaosShare > 0.0)) {
        return "--no-greeting sends only broadcasts: it needs --rate 0 and no --chaos";
    }
    if (!options.idle && ExpectedDeliveries(options) > MAX_DELIVERIES) {
        return "the run would expect more than 10 million deliveries; lower the players, "
               "duration or rates";
    }
    return nullptr;
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
           (options.broadcasts + options.broadcasters * options.broadcasterRate) * seconds *
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
        if (std::strcmp(argument, "--full-values") == 0) {
            options.fullValues = true;
            continue;
        }
        if (std::strcmp(argument, "--no-greeting") == 0) {
            options.noGreeting = true;
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            options.serverArguments.insert(options.serverArguments.end(), argv + index + 1,
                                           argv + argc);
            break;
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
            ok = ParseRate(value, MAX_RATE, options.rate);
        } else if (std::strcmp(argument, "--broadcasts") == 0) {
            ok = ParseRate(value, MAX_RATE, options.broadcasts);
        } else if (std::strcmp(argument, "--broadcaster-rate") == 0) {
            ok = ParseRate(value, MAX_RATE, options.broadcasterRate) &&
                 options.broadcasterRate >= MIN_BROADCASTER_RATE;
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
        } else if (std::strcmp(argument, "--server-args") == 0) {
            ok = SplitWords(value, options.serverArguments);
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
    if (const char* conflict = Conflict(options)) {
        error = conflict;
        return false;
    }
    return true;
}
