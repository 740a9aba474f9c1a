#include "tools/load/LoadOptions.h"

#include "program/CommandLine.h"
#include "program/DecimalNumber.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const HELP_FOOTER =
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
    "The words after -- are passed to the server that --spawn starts, after its port.\n"
    "With a server to watch, the report also shows its processor time over the sending time\n"
    "(as a share of one core) and per delivered frame (counted from the start of the sending\n"
    "to the end of the drain), and the run fails when its resident memory passes 32 MiB plus\n"
    "64 KiB of input and 1 MiB of output per player.\n"
    "A run may expect at most 10 million deliveries.";

void DeclareLoadOptions(CommandLine& line) {
    line.AddPositional("PORT", "the server's TCP port on 127.0.0.1 (0 with --spawn: a free one)");
    line.AddValue("--players", "N", "players to connect, 2 to 65534 (default 50)");
    line.AddValue("--duration", "S", "seconds of traffic, 1 to 3600 (default 30)");
    line.AddValue("--rate", "R", "directed frames per player per second, 0 to 1000 (default 2)");
    line.AddValue("--broadcasts", "B",
                  "broadcasts per second from all players, 0 to 1000 (default 0.5)");
    line.AddValue("--drain", "S",
                  "seconds to wait for frames still on their way, 1 to 600 (default 10)");
    line.AddFlag("--idle",
                 "send nothing: hold the players for the duration, then leave; reports\n"
                 "the admission time and the connections lost (for measuring a server\n"
                 "that holds many quiet players)");
    line.AddValue("--broadcasters", "N",
                  "that many well-behaved players send broadcasts at --broadcaster-rate\n"
                  "and no directed frames; the report shows how many of each player's\n"
                  "frames the server relayed by the end of the sending time");
    line.AddValue("--broadcaster-rate", "R",
                  "broadcasts per second of each of the --broadcasters, 0.1 to 1000\n"
                  "(default 10: one every 100 ms, one per pass of the default pace)");
    line.AddFlag("--full-values",
                 "every value of a well-behaved player is 255 bytes long (otherwise\n"
                 "16 to 255 bytes, varying with the sequence number)");
    line.AddFlag("--no-greeting",
                 "for a server that greets nobody, such as a byte broker (ncat\n"
                 "--broker) that relays every byte to all other connections: the players\n"
                 "connect one after another and take ids by that order, wait 2 s for\n"
                 "the server to take every connection, send only broadcasts (--rate 0,\n"
                 "no --chaos) and leave by closing their connections");
    line.AddValue("--chaos", "SHARE",
                  "that share of the players, 0 to 0.9, misbehave: between spells of\n"
                  "ordinary frames each picks faults at random (reset in mid-frame,\n"
                  "orderly close, half-close, stop reading for a while or for good,\n"
                  "flood, frames a byte at a time or split, frames to ids nobody holds,\n"
                  "leave message) and joins again with a new id after those that end\n"
                  "its connection. Their frames are not counted as deliveries, but every\n"
                  "frame anyone reads must be whole and addressed to its reader");
    line.AddValue("--seed", "N",
                  "seeds every random choice, printed so that a run can be repeated");
    line.AddValue("--server-pid", "PID",
                  "reports that process's resident memory at the start and at its highest");
    line.AddValue("--spawn", "PATH",
                  "starts the server at PATH on PORT itself (PORT 0: a free port),\n"
                  "watches its memory and its console, fails when it ends, and ends it\n"
                  "after the run");
    line.AddValue("--server-args", "A",
                  "more arguments for the server that --spawn starts, separated by\n"
                  "spaces, as in --server-args \"--pass-interval 0 --messages-per-pass 64\";\n"
                  "the words after -- are passed to it as well");
}

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

namespace {

// Takes one option's value into `options`; false when the value is not one the option takes.
bool TakeOption(const GivenWord& word, LoadOptions& options) {
    const std::string& name = word.name;
    const char* value = word.value.c_str();
    if (name == "--idle") {
        options.idle = true;
        return true;
    }
    if (name == "--full-values") {
        options.fullValues = true;
        return true;
    }
    if (name == "--no-greeting") {
        options.noGreeting = true;
        return true;
    }
    if (name == "--players") {
        return ParseCount(value, 2, 65534, options.players);
    }
    if (name == "--duration") {
        return ParseCount(value, 1, 3600, options.durationSeconds);
    }
    if (name == "--drain") {
        return ParseCount(value, 1, 600, options.drainSeconds);
    }
    if (name == "--rate") {
        return ParseRate(value, MAX_RATE, options.rate);
    }
    if (name == "--broadcasts") {
        return ParseRate(value, MAX_RATE, options.broadcasts);
    }
    if (name == "--broadcaster-rate") {
        return ParseRate(value, MAX_RATE, options.broadcasterRate) &&
               options.broadcasterRate >= MIN_BROADCASTER_RATE;
    }
    if (name == "--broadcasters") {
        return ParseCount(value, 0, 9000, options.broadcasters);
    }
    if (name == "--chaos") {
        return ParseRate(value, MAX_CHAOS_SHARE, options.chaosShare);
    }
    if (name == "--seed") {
        options.seedGiven = ParseDecimal(value, UINT64_MAX, options.seed);
        return options.seedGiven;
    }
    if (name == "--server-pid") {
        return ParseCount(value, 1, 0x7FFFFFFF, options.serverPid);
    }
    if (name == "--spawn") {
        options.spawnPath = value;
        return !options.spawnPath.empty();
    }
    return SplitWords(value, options.serverArguments);
}

// Takes the port and the options in their order; false, with the error, at the first value that
// is not taken.
bool TakeWords(const std::vector<GivenWord>& given, LoadOptions& options, std::string& error) {
    for (const GivenWord& word : given) {
        if (word.name == "PORT") {
            std::uint64_t port = 0;
            if (!ParseDecimal(word.value, 65535, port)) {
                error = "unexpected argument '" + word.value + "'";
                return false;
            }
            options.port = static_cast<std::uint16_t>(port);
        } else if (!TakeOption(word, options)) {
            error = "the value '" + word.value + "' of " + word.name + " is out of range";
            return false;
        }
    }
    return true;
}

}  // namespace

std::string LoadUsage() {
    CommandLine line("vor-load", HELP_FOOTER);
    DeclareLoadOptions(line);
    return line.Help();
}

LoadRequest ParseLoadOptions(int argc, const char* const* argv, LoadOptions& options,
                             std::string& error) {
    // The words after the first -- are the spawned server's, whatever they look like.
    int ownWords = 1;
    while (ownWords < argc && std::strcmp(argv[ownWords], "--") != 0) {
        ++ownWords;
    }
    CommandLine line("vor-load", HELP_FOOTER);
    DeclareLoadOptions(line);
    const CommandLineOutcome outcome = line.Read(ownWords, argv);
    switch (outcome) {
        case CommandLineOutcome::ShowHelp:
        case CommandLineOutcome::ShowVersion:
            // A bad value before the help word is refused as it would be without it.
            if (!TakeWords(line.Given(), options, error)) {
                return LoadRequest::Refused;
            }
            return outcome == CommandLineOutcome::ShowHelp ? LoadRequest::ShowHelp
                                                           : LoadRequest::ShowVersion;
        case CommandLineOutcome::MissingPositional:
            error = "the server's port is missing";
            return LoadRequest::Refused;
        case CommandLineOutcome::NeedsValue:
            error = line.Problem() + " needs a value";
            return LoadRequest::Refused;
        case CommandLineOutcome::UnknownWord:
            error =
                (line.Problem().starts_with("-") ? "unknown option '" : "unexpected argument '") +
                line.Problem() + "'";
            return LoadRequest::Refused;
        case CommandLineOutcome::Read:
            break;
    }
    if (!TakeWords(line.Given(), options, error)) {
        return LoadRequest::Refused;
    }
    if (ownWords < argc) {
        options.serverArguments.insert(options.serverArguments.end(), argv + ownWords + 1,
                                       argv + argc);
    }
    if (const char* conflict = Conflict(options)) {
        error = conflict;
        return LoadRequest::Refused;
    }
    return LoadRequest::Run;
}
