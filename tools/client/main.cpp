#include "net/Ipv6Text.h"
#include "net/NetSocket.h"
#include "net/ProcessSetup.h"
#include "protocol/DecimalNumber.h"
#include "protocol/FrameSocket.h"
#include "sync/Clock.h"
#include "tools/client/HostCheck.h"
#include "tools/client/InputLine.h"
#include "tools/client/LineReader.h"
#include "vor/Version.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr unsigned POLL_INTERVAL_MS = 10;
// The server admits one player per pass; a long queue of newcomers takes a while.
constexpr unsigned GREETING_TIMEOUT_MS = 30000;
constexpr unsigned LEAVE_TIMEOUT_MS = 3000;

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: vor-client HOST PORT\n"
                 "\n"
                 "Joins the relay server at HOST (a dotted IPv4 address, an IPv6 literal such as\n"
                 "::1, or a name) and PORT as one player. Prints the greeting (the player id and\n"
                 "the server clock) and every message received, one per line:\n"
                 "  received id ID target TARGET length N: VALUE\n"
                 "with control bytes in VALUE written as \\xNN. Each line typed on standard input\n"
                 "is one of:\n"
                 "%s"
                 "The end of the input also leaves. The program ends when the server closes the\n"
                 "connection.\n",
                 INPUT_SYNTAX);
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
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vor-client %s\n", VOR_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    std::uint64_t port = 0;
    if (argc != 3 || !ParseDecimal(argv[2], 65535, port) || port == 0) {
        PrintUsage(stderr);
        return 2;
    }
    IgnoreBrokenPipeSignal();
    const char* host = argv[1];
    const std::string problem = HostProblem(host);
    if (!problem.empty()) {
        std::fprintf(stderr, "vor-client: %s\n", problem.c_str());
        return 1;
    }
    Ipv6Bytes ipv6{};
    const int family = ParseIpv6Text(host, ipv6) ? NS_IPV6 : 0;
    const std::string address = family == NS_IPV6 ? Ipv6AddressText(ipv6)
                                                  : NetSocket::AddressText(NetSocket::MakeAddress(
                                                        host, static_cast<std::uint16_t>(port)));
    std::printf("Connecting to %s (%s) port %u.\n", host, address.c_str(),
                static_cast<unsigned>(port));
    std::fflush(stdout);

    NetSocket server;
    if (server.Open(NS_TCP | NS_THREADED | family, static_cast<std::uint16_t>(port), host) != 0) {
        std::fprintf(stderr,
                     "vor-client: could not connect to %s port %u (refused or unreachable: is "
                     "the server running and listening there?)\n",
                     address.c_str(), static_cast<unsigned>(port));
        return 1;
    }
    if (!AwaitGreeting(server)) {
        return 1;
    }

    // Static, so that a reader thread still waiting for input never outlives it.
    static LineReader input(stdin);
    input.Start();
    std::string text;
    for (;;) {
        PrintReceivedFrames(server);
        if (!server.IsConnected()) {
            break;
        }
        bool leaving = input.Finished();
        while (!leaving && input.TakeLine(text)) {
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
