#include "net/Ipv6Text.h"
#include "net/NetSocket.h"
#include "program/CommandLine.h"
#include "program/ConsoleLineReader.h"
#include "program/DecimalNumber.h"
#include "program/ProcessSetup.h"
#include "protocol/FrameSocket.h"
#include "sync/Clock.h"
#include "tools/client/HostCheck.h"
#include "tools/client/InputLine.h"
#include "vor/Version.h"

#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr unsigned POLL_INTERVAL_MS = 10;
// The server admits one player per pass; a long queue of newcomers takes a while.
constexpr unsigned GREETING_TIMEOUT_MS = 30000;
constexpr unsigned LEAVE_TIMEOUT_MS = 3000;

// Of a longer typed line only its start is kept: it is refused anyway, and its start is
// enough to say so.
constexpr std::size_t MAX_KEPT_LINE = 4096;

std::string HelpFooter() {
    return std::string(
               "Joins the relay server at HOST (a dotted IPv4 address, an IPv6 literal such as\n"
               "::1, or a name) and PORT as one player. Prints the greeting (the player id and\n"
               "the server clock) and every message received, one per line:\n"
               "  received id ID target TARGET length N: VALUE\n"
               "with control bytes in VALUE written as \\xNN. Each line typed on standard input\n"
               "is one of:\n") +
           INPUT_SYNTAX +
           "The end of the input also leaves. The program ends when the server closes the\n"
           "connection.";
}

// Reads HOST and PORT; the exit status when the program ends here, having printed why.
std::optional<int> ReadCommandLine(int argc, char** argv, std::string& host, std::uint16_t& port) {
    const std::string footer = HelpFooter();
    CommandLine line("vor-client", footer.c_str());
    line.AddPositional("HOST", "the server's address or name");
    line.AddPositional("PORT", "the server's TCP port (1-65535)");
    std::string problem;
    switch (line.Read(argc, argv)) {
        case CommandLineOutcome::ShowHelp:
            std::fputs(line.Help().c_str(), stdout);
            return 0;
        case CommandLineOutcome::ShowVersion:
            std::printf("vor-client %s\n", VOR_VERSION);
            return 0;
        case CommandLineOutcome::MissingPositional:
            problem = "the server's HOST and PORT are needed";
            break;
        case CommandLineOutcome::NeedsValue:
            problem = line.Problem() + " needs a value";
            break;
        case CommandLineOutcome::UnknownWord:
            problem =
                (line.Problem().starts_with("-") ? "unknown option '" : "unexpected argument '") +
                line.Problem() + "'";
            break;
        case CommandLineOutcome::Read:
            for (const GivenWord& word : line.Given()) {
                std::uint64_t number = 0;
                if (word.name == "HOST") {
                    host = word.value;
                } else if (ParseDecimal(word.value, 65535, number) && number != 0) {
                    port = static_cast<std::uint16_t>(number);
                } else {
                    problem = "invalid value '" + word.value + "' for PORT";
                }
            }
            if (problem.empty()) {
                return std::nullopt;
            }
            break;
    }
    std::fprintf(stderr, "vor-client: %s (see vor-client --help)\n", problem.c_str());
    return 2;
}

// Waits for the two welcome frames: the player id, then the server clock.
bool AwaitGreeting(NetSocket& server) {
    Frame frames[2];
    int received = 0;
    for (unsigned waited = 0; waited < GREETING_TIMEOUT_MS; waited += POLL_INTERVAL_MS) {
        while (received < 2 && TakeFrame(server, frames[received])) {
            ++received;
        }
        if (received == 2) {
            std::printf("Joined as player %s; server clock %s ms.\n", frames[0].value.c_str(),
                        frames[1].value.c_str());
            std::fflush(stdout);
            return true;
        }
        if (!server.IsConnected()) {
            std::fprintf(stderr,
                         "vor-client: the server closed the connection before the greeting: it "
                         "may be full (--max-players), have too many players from this address "
                         "(--max-per-address), or have every player id taken\n");
            return false;
        }
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
    std::fprintf(stderr, "vor-client: no greeting within %u s\n", GREETING_TIMEOUT_MS / 1000);
    return false;
}

void PrintReceivedFrames(NetSocket& server) {
    Frame frame;
    bool printed = false;
    while (TakeFrame(server, frame)) {
        std::printf("received %s\n", DescribeFrame(frame).c_str());
        printed = true;
    }
    if (printed) {
        std::fflush(stdout);
    }
}

// Sends the leave message and waits for the server to close the connection.
void Leave(NetSocket& server) {
    Frame leave;
    leave.id = MSG_LEAVE;
    leave.target = SERVER_ID;
    SendFrame(server, leave);
    for (unsigned waited = 0; waited < LEAVE_TIMEOUT_MS && server.IsConnected();
         waited += POLL_INTERVAL_MS) {
        PrintReceivedFrames(server);
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
}

// Acts on one typed line; false when the user leaves.
bool HandleLine(NetSocket& server, const std::string& text) {
    const InputLine line = ParseInputLine(text);
    switch (line.action) {
        case InputAction::Nothing:
            return true;
        case InputAction::Help:
            std::printf("%s", INPUT_SYNTAX);
            std::fflush(stdout);
            return true;
        case InputAction::Malformed:
            std::fprintf(stderr, "vor-client: %s (type 'help' for the syntax)\n",
                         line.error.c_str());
            return true;
        case InputAction::Leave:
            return false;
        case InputAction::Send:
            if (!line.note.empty()) {
                std::printf("Note: %s.\n", line.note.c_str());
                std::fflush(stdout);
            }
            if (SendFrame(server, line.frame) != 0) {
                std::fprintf(stderr, "vor-client: the message could not be sent\n");
            }
            return true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SetUpProcess(ProcessNeeds{});
    std::string hostText;
    std::uint16_t port = 0;
    if (const std::optional<int> status = ReadCommandLine(argc, argv, hostText, port)) {
        return *status;
    }
    const char* host = hostText.c_str();
    const std::string problem = HostProblem(host);
    if (!problem.empty()) {
        std::fprintf(stderr, "vor-client: %s\n", problem.c_str());
        return 1;
    }
    Ipv6Bytes ipv6{};
    const int family = ParseIpv6Text(host, ipv6) ? NS_IPV6 : 0;
    const std::string address = family == NS_IPV6
                                    ? Ipv6AddressText(ipv6)
                                    : NetSocket::AddressText(NetSocket::MakeAddress(host, port));
    std::printf("Connecting to %s (%s) port %u.\n", host, address.c_str(),
                static_cast<unsigned>(port));
    std::fflush(stdout);

    NetSocket server;
    if (server.Open(NS_TCP | NS_THREADED | family, port, host) != 0) {
        std::fprintf(stderr,
                     "vor-client: could not connect to %s port %u (refused or unreachable: is "
                     "the server running and listening there?)\n",
                     address.c_str(), static_cast<unsigned>(port));
        return 1;
    }
    if (!AwaitGreeting(server)) {
        return 1;
    }

    ConsoleLineReader input;
    input.Start(stdin, {}, MAX_KEPT_LINE);
    for (;;) {
        PrintReceivedFrames(server);
        if (!server.IsConnected()) {
            break;
        }
        bool leaving = input.Ended();
        for (const std::string& text : input.TakeLines()) {
            if (leaving) {
                break;
            }
            leaving = !HandleLine(server, text);
        }
        if (leaving) {
            Leave(server);
            break;
        }
        SleepMilliseconds(POLL_INTERVAL_MS);
    }
    const bool closedByServer = !server.IsConnected();
    // Closing stops the receiver thread; what it took in before is still buffered.
    server.Close();
    PrintReceivedFrames(server);
    std::printf(closedByServer ? "The server closed the connection.\n" : "Left the server.\n");
    return 0;
}
