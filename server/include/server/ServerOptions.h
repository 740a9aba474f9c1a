#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How the operator started the server. Without --port the server asks its two questions.
struct ServerOptions {
    bool askOperator = true;
    std::uint16_t port = 0;
    bool displayMessages = false;
    // Dotted IPv4 text or an IPv6 literal of the one local address to listen on; empty for every
    // interface.
    std::string bindAddress;
    bool bindIpv6 = false;
    // 0 leaves the count unlimited (up to every free player id).
    std::uint32_t maxPlayers = 0;
    std::uint32_t maxPerAddress = 0;
    // Each pass's dispatch starts after the player whose message ended the last one.
    bool fairTurns = false;
    // Milliseconds from the start of one pass to the start of the next; 0 begins a pass as soon
    // as there is something to do. Without it, each pass is followed by 100 ms of sleep.
    std::optional<std::uint32_t> passInterval;
    // Rounds of turns per pass, each taking at most one message from each player.
    std::uint32_t messagesPerPass = 1;
    // The control socket's path; empty for none.
    std::string controlPath;
    // Where the metrics are served; an empty address for nowhere.
    std::string metricsAddress;
    std::uint16_t metricsPort = 0;
};

enum class OptionsResult { Serve, ShowHelp, ShowVersion, Invalid };

// Reads the command line. On Invalid, `problem` names the argument at fault in one line.
OptionsResult ParseServerOptions(int argc, const char* const* argv, ServerOptions& options,
                                 std::string& problem);

// The text --help prints, made from the options' declarations.
std::string ServerUsage();
