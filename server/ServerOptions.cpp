#include "server/ServerOptions.h"

#include "net/Ipv6Text.h"
#include "program/CommandLine.h"
#include "program/DecimalNumber.h"
#include "protocol/Frame.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t MAX_PORT = 65535;
constexpr std::uint64_t MAX_PLAYERS = LAST_PLAYER_ID - FIRST_PLAYER_ID + 1;
constexpr std::uint64_t MAX_PASS_INTERVAL_MS = 1000;
constexpr std::uint64_t MAX_MESSAGES_PER_PASS = 1024;

// Four decimal numbers from 0 to 255 separated by dots, nothing else.
bool IsDottedAddress(std::string_view text) {
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const std::string_view number = part < 3 ? text.substr(0, dot) : text;
        std::uint64_t value = 0;
        if ((part < 3 && dot == std::string_view::npos) || number.size() > 3 ||
            !ParseDecimal(number, 255, value)) {
            return false;
        }
        if (part < 3) {
            text.remove_prefix(dot + 1);
        }
    }
    return true;
}

// "ADDRESS:PORT" or a port alone, which means 127.0.0.1.
bool ParseMetricsAddress(std::string_view text, ServerOptions& options) {
    const std::size_t colon = text.rfind(':');
    const std::string_view address =
        colon == std::string_view::npos ? std::string_view("127.0.0.1") : text.substr(0, colon);
    const std::string_view portText =
        colon == std::string_view::npos ? text : text.substr(colon + 1);
    std::uint64_t port = 0;
    if (!IsDottedAddress(address) || !ParseDecimal(portText, MAX_PORT, port)) {
        return false;
    }
    options.metricsAddress = address;
    options.metricsPort = static_cast<std::uint16_t>(port);
    return true;
}

bool ParseCount(std::string_view text, std::uint64_t smallest, std::uint64_t largest,
                std::uint32_t& count) {
    std::uint64_t value = 0;
    if (!ParseDecimal(text, largest, value) || value < smallest) {
        return false;
    }
    count = static_cast<std::uint32_t>(value);
    return true;
}

// The options' names, values and help texts.
void DeclareServerOptions(CommandLine& line) {
    line.AddValue("--port", "N", "listen on TCP port N (0-65535) without asking");
    line.AddFlag("--display", "show the messages addressed to the server (with --port)");
    line.AddValue("--bind", "ADDRESS",
                  "listen on this local address only, not on every one: IPv4\n"
                  "(127.0.0.1) or IPv6 (::1); :: is every interface, for IPv4\n"
                  "too where the system allows it");
    line.AddValue("--max-players", "N", "refuse connections while N players are connected");
    line.AddValue("--max-per-address", "N",
                  "refuse connections from an address that has N players");
    line.AddFlag("--fair",
                 "start each pass after the player whose message to everybody\n"
                 "or to the server ended the last one, not at the lowest id");
    line.AddValue("--pass-interval", "MS",
                  "begin a pass every MS ms (1-1000), or with 0 as soon as a\n"
                  "player, a new connection or a command needs one; without\n"
                  "it each pass is followed by 100 ms of sleep");
    line.AddValue("--messages-per-pass", "N",
                  "take up to N messages from each player per pass (1-1024),\n"
                  "one per round; above 1, no message ends a pass early");
    line.AddValue("--control", "PATH",
                  "take the operator's commands, and metrics, one per line on a\n"
                  "local socket at PATH, for its owner only (see vor-ctl)");
    line.AddValue("--metrics", "[ADDRESS:]PORT",
                  "serve Prometheus metrics at http://ADDRESS:PORT/metrics\n"
                  "(ADDRESS 127.0.0.1 when only the port is given)");
}

const char* const SERVER_HELP_FOOTER =
    "Relays the messages of the players that connect to it over TCP.\n"
    "\n"
    "Without --port it asks for the port and whether to show messages addressed to it.\n"
    "\n"
    "Once it listens, type help for the operator's commands (players, kick ID, stats,\n"
    "quit). SIGINT or SIGTERM stops it cleanly.";

// Takes one option's value into `options`; false when the value is not one the option takes.
bool TakeOption(const GivenWord& word, ServerOptions& options) {
    const std::string& name = word.name;
    const std::string_view value = word.value;
    if (name == "--display") {
        options.displayMessages = true;
        return true;
    }
    if (name == "--fair") {
        options.fairTurns = true;
        return true;
    }
    if (name == "--port") {
        std::uint64_t port = 0;
        options.port = 0;
        options.askOperator = false;
        if (!ParseDecimal(value, MAX_PORT, port)) {
            return false;
        }
        options.port = static_cast<std::uint16_t>(port);
        return true;
    }
    if (name == "--bind") {
        Ipv6Bytes ipv6{};
        options.bindIpv6 = ParseIpv6Text(value, ipv6);
        options.bindAddress = value;
        return options.bindIpv6 || IsDottedAddress(value);
    }
    if (name == "--control") {
        options.controlPath = value;
        return !value.empty();
    }
    if (name == "--metrics") {
        return ParseMetricsAddress(value, options);
    }
    if (name == "--max-players") {
        return ParseCount(value, 1, MAX_PLAYERS, options.maxPlayers);
    }
    if (name == "--pass-interval") {
        std::uint32_t interval = 0;
        const bool valid = ParseCount(value, 0, MAX_PASS_INTERVAL_MS, interval);
        options.passInterval = interval;
        return valid;
    }
    if (name == "--messages-per-pass") {
        return ParseCount(value, 1, MAX_MESSAGES_PER_PASS, options.messagesPerPass);
    }
    return ParseCount(value, 1, MAX_PLAYERS, options.maxPerAddress);
}

// Takes the options in their order; false, with the problem, at the first value an option does
// not take.
bool TakeOptions(const std::vector<GivenWord>& given, ServerOptions& options,
                 std::string& problem) {
    for (const GivenWord& word : given) {
        if (!TakeOption(word, options)) {
            problem = "invalid value '" + word.value + "' for " + word.name;
            return false;
        }
    }
    return true;
}

}  // namespace

OptionsResult ParseServerOptions(int argc, const char* const* argv, ServerOptions& options,
                                 std::string& problem) {
    CommandLine line("vor-server", SERVER_HELP_FOOTER);
    DeclareServerOptions(line);
    const CommandLineOutcome outcome = line.Read(argc, argv);
    switch (outcome) {
        case CommandLineOutcome::ShowHelp:
        case CommandLineOutcome::ShowVersion:
            // A bad value before the help word is refused as it would be without it.
            if (!TakeOptions(line.Given(), options, problem)) {
                return OptionsResult::Invalid;
            }
            return outcome == CommandLineOutcome::ShowHelp ? OptionsResult::ShowHelp
                                                           : OptionsResult::ShowVersion;
        case CommandLineOutcome::NeedsValue:
            problem = line.Problem() + " needs a value";
            return OptionsResult::Invalid;
        case CommandLineOutcome::UnknownWord:
        case CommandLineOutcome::MissingPositional:
            problem = "unknown option '" + line.Problem() + "'";
            return OptionsResult::Invalid;
        case CommandLineOutcome::Read:
            break;
    }
    if (!TakeOptions(line.Given(), options, problem)) {
        return OptionsResult::Invalid;
    }
    const bool displayGiven =
        std::any_of(line.Given().begin(), line.Given().end(),
                    [](const GivenWord& word) { return word.name == "--display"; });
    if (displayGiven && options.askOperator) {
        problem = "--display needs --port (without --port the server asks)";
        return OptionsResult::Invalid;
    }
    return OptionsResult::Serve;
}

std::string ServerUsage() {
    CommandLine line("vor-server", SERVER_HELP_FOOTER);
    DeclareServerOptions(line);
    return line.Help();
}
