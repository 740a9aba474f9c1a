#include "server/ServerOptions.h"

#include "net/Ipv6Text.h"
#include "protocol/DecimalNumber.h"
#include "protocol/Frame.h"

#include <string_view>

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

// Takes the value of `--name VALUE` or `--name=VALUE`; false when there is none.
bool TakeValue(int argc, const char* const* argv, int& index, std::string_view inlineValue,
               bool hasInlineValue, std::string_view& value) {
    if (hasInlineValue) {
        value = inlineValue;
        return true;
    }
    if (index + 1 >= argc) {
        return false;
    }
    value = argv[++index];
    return true;
}

}  // namespace

OptionsResult ParseServerOptions(int argc, const char* const* argv, ServerOptions& options,
                                 std::string& problem) {
    bool displayGiven = false;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        const std::size_t equals = argument.find('=');
        const bool hasInlineValue = argument.starts_with("--") && equals != std::string_view::npos;
        const std::string_view name = hasInlineValue ? argument.substr(0, equals) : argument;
        const std::string_view inlineValue =
            hasInlineValue ? argument.substr(equals + 1) : std::string_view();

        if (name == "--help" || name == "-h") {
            return OptionsResult::ShowHelp;
        }
        if (name == "--version") {
            return OptionsResult::ShowVersion;
        }
        if (name == "--fair" && !hasInlineValue) {
            options.fairTurns = true;
            continue;
        }
        if (name == "--display" && !hasInlineValue) {
            displayGiven = true;
            options.displayMessages = true;
            continue;
        }
        if (name != "--port" && name != "--bind" && name != "--max-players" &&
            name != "--max-per-address" && name != "--pass-interval" &&
            name != "--messages-per-pass" && name != "--control" && name != "--metrics") {
            problem = "unknown option '" + std::string(argument) + "'";
            return OptionsResult::Invalid;
        }
        std::string_view value;
        if (!TakeValue(argc, argv, index, inlineValue, hasInlineValue, value)) {
            problem = std::string(name) + " needs a value";
            return OptionsResult::Invalid;
        }
        bool valid = false;
        if (name == "--port") {
            std::uint64_t port = 0;
            valid = ParseDecimal(value, MAX_PORT, port);
            options.port = static_cast<std::uint16_t>(port);
            options.askOperator = false;
        } else if (name == "--bind") {
            Ipv6Bytes ipv6{};
            options.bindIpv6 = ParseIpv6Text(value, ipv6);
            valid = options.bindIpv6 || IsDottedAddress(value);
            options.bindAddress = value;
        } else if (name == "--control") {
            valid = !value.empty();
            options.controlPath = value;
        } else if (name == "--metrics") {
            valid = ParseMetricsAddress(value, options);
        } else if (name == "--max-players") {
            valid = ParseCount(value, 1, MAX_PLAYERS, options.maxPlayers);
        } else if (name == "--pass-interval") {
            std::uint32_t interval = 0;
            valid = ParseCount(value, 0, MAX_PASS_INTERVAL_MS, interval);
            options.passInterval = interval;
        } else if (name == "--messages-per-pass") {
            valid = ParseCount(value, 1, MAX_MESSAGES_PER_PASS, options.messagesPerPass);
        } else {
            valid = ParseCount(value, 1, MAX_PLAYERS, options.maxPerAddress);
        }
        if (!valid) {
            problem = "invalid value '" + std::string(value) + "' for " + std::string(name);
            return OptionsResult::Invalid;
        }
    }
    if (displayGiven && options.askOperator) {
        problem = "--display needs --port (without --port the server asks)";
        return OptionsResult::Invalid;
    }
    return OptionsResult::Serve;
}

const char* ServerUsage() {
    return "Usage: vor-server [--port N [--display]] [--bind ADDRESS] [--max-players N]\n"
           "                  [--max-per-address N] [--fair] [--pass-interval MS]\n"
           "                  [--messages-per-pass N] [--control PATH]\n"
           "                  [--metrics [ADDRESS:]PORT]\n"
           "Relays the messages of the players that connect to it over TCP.\n"
           "\n"
           "Without --port it asks for the port and whether to show messages addressed to it.\n"
           "  --port N             listen on TCP port N (0-65535) without asking\n"
           "  --display            show the messages addressed to the server (with --port)\n"
           "  --bind ADDRESS       listen on this local address only, not on every one: IPv4\n"
           "                       (127.0.0.1) or IPv6 (::1); :: is every interface, for IPv4\n"
           "                       too where the system allows it\n"
           "  --max-players N      refuse connections while N players are connected\n"
           "  --max-per-address N  refuse connections from an address that has N players\n"
           "  --fair               start each pass after the player whose message to everybody\n"
           "                       or to the server ended the last one, not at the lowest id\n"
           "  --pass-interval MS   begin a pass every MS ms (1-1000), or with 0 as soon as a\n"
           "                       player, a new connection or a command needs one; without\n"
           "                       it each pass is followed by 100 ms of sleep\n"
           "  --messages-per-pass N\n"
           "                       take up to N messages from each player per pass (1-1024),\n"
           "                       one per round; above 1, no message ends a pass early\n"
           "  --control PATH       take the operator's commands, and metrics, one per line on a\n"
           "                       local socket at PATH, for its owner only (see vor-ctl)\n"
           "  --metrics [ADDRESS:]PORT\n"
           "                       serve Prometheus metrics at http://ADDRESS:PORT/metrics\n"
           "                       (ADDRESS 127.0.0.1 when only the port is given)\n"
           "  --help               show this text\n"
           "  --version            show the version\n"
           "\n"
           "Once it listens, type help for the operator's commands (players, kick ID, stats,\n"
           "quit). SIGINT or SIGTERM stops it cleanly.\n";
}
