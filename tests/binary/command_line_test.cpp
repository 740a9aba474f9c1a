// The real binary started with command-line options instead of the dialogue.

#include "net/NetSocket.h"
#include "program/DecimalNumber.h"
#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"
#include "tests/support/PortHolder.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// A player that sends one message to the server and leaves; the console shows the message
// exactly when display is on.
void SendToServerAndLeave(std::uint16_t port) {
    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    ASSERT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
    ASSERT_TRUE(client.SendFrame(7, 1, "hi"));
    ASSERT_TRUE(client.SendFrame(255, 1, ""));
}

// One line naming the call that failed and the system's reason, in the system's words.
void ExpectBindFailureReason(const std::string& errors) {
    EXPECT_TRUE(errors.starts_with("vor-server: bind: ")) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
    if (ServerProcess::IsNative()) {
        EXPECT_EQ(errors, "vor-server: bind: Address already in use\n");
    }
}

TEST(CommandLine, PortServesWithoutQuestionsAndHidesServerMessagesByDefault) {
    std::uint16_t port = 0;
    auto server = StartOnPort({}, port);
    ASSERT_NE(server, nullptr);
    SendToServerAndLeave(port);
    ASSERT_TRUE(server->WaitForOutput(LeftLine(FIRST_ID), WAIT_MS));
    EXPECT_EQ(server->Output(), CommandLineTranscript(std::to_string(port)) +
                                    ConnectionLine(FIRST_ID) + LeftLine(FIRST_ID));
}

TEST(CommandLine, DisplayShowsServerMessages) {
    std::uint16_t port = 0;
    auto server = StartOnPort({"--display"}, port);
    ASSERT_NE(server, nullptr);
    SendToServerAndLeave(port);
    ASSERT_TRUE(server->WaitForOutput(LeftLine(FIRST_ID), WAIT_MS));
    EXPECT_EQ(server->Output(), CommandLineTranscript(std::to_string(port)) +
                                    ConnectionLine(FIRST_ID) + ShownMessage(7, FIRST_ID, "hi", 2) +
                                    LeftLine(FIRST_ID));
}

// Whether a connection to `address`:`port` is made.
bool Connects(const char* address, std::uint16_t port) {
    NetSocket client;
    return client.Open(NS_TCP, port, address) == 0;
}

TEST(CommandLine, ListensOnEveryLocalAddressUnlessBoundToOne) {
    std::uint16_t port = 0;
    auto unbound = StartOnPort({}, port);
    ASSERT_NE(unbound, nullptr);
    EXPECT_TRUE(Connects("127.0.0.2", port));
    EXPECT_TRUE(unbound->WaitForOutput("New connection from ", WAIT_MS));

    // Another loopback address: the server must not answer on 127.0.0.1.
    auto other = StartOnPort({"--bind", "127.0.0.2"}, port);
    ASSERT_NE(other, nullptr);
    LoopbackClient refused(port);
    EXPECT_FALSE(refused.Connected());

    auto server = StartOnPort({"--bind", "127.0.0.1"}, port);
    ASSERT_NE(server, nullptr);
    EXPECT_FALSE(Connects("127.0.0.2", port));
    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
}

// The listening line echoes 0 as given; the next line names the port the system chose, and the
// server serves there.
TEST(CommandLine, PortZeroSaysWhichPortTheSystemChose) {
    ServerProcess server({}, {"--port", "0", "--bind", "127.0.0.1"});
    const std::string listening = CommandLineTranscript("0") + "The system chose port ";
    ASSERT_TRUE(server.WaitForOutput(listening, WAIT_MS)) << server.Output();
    const std::size_t end = listening.size();
    ASSERT_TRUE(server.WaitForOutputSize(end + 2, WAIT_MS).find(".\n", end) != std::string::npos);
    const std::string output = server.Output();
    ASSERT_TRUE(output.ends_with(".\n")) << output;
    const std::string portText = output.substr(end, output.size() - 2 - end);
    std::uint64_t port = 0;
    ASSERT_TRUE(ParseDecimal(portText, 65535, port) && port != 0) << output;
    LoopbackClient client(static_cast<std::uint16_t>(port));
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
}

TEST(CommandLine, MaxPlayersRefusesPastTheCountUntilOneLeaves) {
    std::uint16_t port = 0;
    auto server = StartOnPort({"--max-players", "2"}, port);
    ASSERT_NE(server, nullptr);
    auto first = std::make_unique<LoopbackClient>(port);
    LoopbackClient second(port);
    ASSERT_EQ(first->ReadGreeting(WAIT_MS), 2);
    ASSERT_EQ(second.ReadGreeting(WAIT_MS), 3);

    LoopbackClient third(port);
    ASSERT_TRUE(third.Connected());
    EXPECT_TRUE(third.ClosedByPeer(WAIT_MS));
    EXPECT_TRUE(server->WaitForOutput(
        "Refused a connection from 127.0.0.1: the server is full (--max-players 2).\n", WAIT_MS));

    first->Close();
    ASSERT_TRUE(server->WaitForOutput(LeftLine(2), WAIT_MS));
    LoopbackClient fourth(port);
    EXPECT_EQ(fourth.ReadGreeting(WAIT_MS), 2);
}

TEST(CommandLine, MaxPerAddressRefusesTheSameAddressPastTheCount) {
    std::uint16_t port = 0;
    auto server = StartOnPort({"--max-per-address", "1"}, port);
    ASSERT_NE(server, nullptr);
    LoopbackClient first(port);
    ASSERT_EQ(first.ReadGreeting(WAIT_MS), 2);
    LoopbackClient second(port);
    ASSERT_TRUE(second.Connected());
    EXPECT_TRUE(second.ClosedByPeer(WAIT_MS));
    EXPECT_TRUE(
        server->WaitForOutput("Refused a connection from 127.0.0.1: too many players "
                              "from that address (--max-per-address 1).\n",
                              WAIT_MS));
    // The player already in is served as before.
    ASSERT_TRUE(first.SendFrame(3, 2, "self"));
    EXPECT_EQ(first.ReadFrame(WAIT_MS), (Frame{3, 2, "self"}));
}

TEST(CommandLine, HelpAndVersionPrintAndExitZero) {
    ServerProcess help({}, {"--help"});
    EXPECT_EQ(help.WaitForExit(WAIT_MS), 0);
    EXPECT_TRUE(help.Output().starts_with("Usage: vor-server")) << help.Output();
    EXPECT_NE(help.Output().find("--max-per-address"), std::string::npos);

    ServerProcess version({}, {"--version"});
    EXPECT_EQ(version.WaitForExit(WAIT_MS), 0);
    EXPECT_EQ(version.Output(), "vor-server 1.0\n");
    EXPECT_EQ(version.ErrorOutput(), "");
}

TEST(CommandLine, ListeningFailureNamesTheReasonAndExitsOneWithoutPausing) {
    PortHolder holder;
    ASSERT_NE(holder.Port(), 0);
    const std::string portText = std::to_string(holder.Port());
    // The input stays open: a server that paused would wait for it.
    ServerProcess server({}, {"--port", portText});
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 1);
    EXPECT_EQ(
        server.Output(),
        std::string(BANNER) + "Failed to create a listening socket at port " + portText + ".\n");
    ExpectBindFailureReason(server.ErrorOutput());
}

TEST(CommandLine, DialogueFailureAlsoNamesTheReason) {
    PortHolder holder;
    ASSERT_NE(holder.Port(), 0);
    const std::string portText = std::to_string(holder.Port());
    ServerProcess server;
    server.WriteInput(portText + "\nn\n");
    const std::string expected = FailureTranscript(portText);
    ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);
    server.WriteInput("\n");
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 0);
    ExpectBindFailureReason(server.ErrorOutput());
}

// A reply line far longer than any buffer is read whole: the number is all of it.
TEST(CommandLine, DialogueReadsATenThousandCharacterReplyWhole) {
    ServerProcess server;
    const std::uint16_t port = server.ListenWith([](std::uint16_t chosen) {
        const std::string portText = std::to_string(chosen);
        return std::string(10000 - portText.size(), '0') + portText + "\nn\n";
    });
    ASSERT_NE(port, 0) << server.Output();
    const std::string expected = ListeningTranscript(std::to_string(port));
    EXPECT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);
    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
}

struct BadArguments {
    const char* name;
    std::vector<std::string> arguments;
    const char* problem;
};

void PrintTo(const BadArguments& bad, std::ostream* out) {
    *out << bad.name;
}

class RejectedArguments : public ::testing::TestWithParam<BadArguments> {};

TEST_P(RejectedArguments, OneLineOnStandardErrorAndExitTwo) {
    ServerProcess server({}, GetParam().arguments);
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 2);
    EXPECT_EQ(server.Output(), "");
    const std::string errors = server.ErrorOutput();
    EXPECT_TRUE(errors.starts_with(std::string("vor-server: ") + GetParam().problem)) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Options, RejectedArguments,
    ::testing::Values(
        BadArguments{"Unknown", {"--verbose"}, "unknown option '--verbose'"},
        BadArguments{"Positional", {"4711"}, "unknown option '4711'"},
        BadArguments{"PortTooLarge", {"--port", "65536"}, "invalid value '65536' for --port"},
        BadArguments{"PortNotANumber", {"--port=x1"}, "invalid value 'x1' for --port"},
        BadArguments{"PortMissing", {"--port"}, "--port needs a value"},
        // The service's instance name is the port: vor-server@abc must exit 2, which systemd
        // does not restart.
        BadArguments{
            "ServiceInstanceNotAPort", {"--port", "abc"}, "invalid value 'abc' for --port"},
        BadArguments{"BindName",
                     {"--port", "1", "--bind", "localhost"},
                     "invalid value 'localhost' for --bind"},
        BadArguments{
            "BindFiveParts", {"--bind", "1.2.3.4.5"}, "invalid value '1.2.3.4.5' for --bind"},
        BadArguments{
            "BindPartTooLarge", {"--bind", "1.2.3.256"}, "invalid value '1.2.3.256' for --bind"},
        BadArguments{
            "BindIpv6WithZone", {"--bind", "fe80::1%lo"}, "invalid value 'fe80::1%lo' for --bind"},
        BadArguments{"BindIpv6Bracketed", {"--bind", "[::1]"}, "invalid value '[::1]' for --bind"},
        BadArguments{"NoPlayers", {"--max-players", "0"}, "invalid value '0' for --max-players"},
        BadArguments{"TooManyPlayers",
                     {"--max-players", "65535"},
                     "invalid value '65535' for --max-players"},
        BadArguments{
            "PerAddressEmpty", {"--max-per-address="}, "invalid value '' for --max-per-address"},
        BadArguments{"DisplayWithoutPort", {"--display"}, "--display needs --port"},
        BadArguments{
            "FairGivenTrue", {"--port", "0", "--fair=true"}, "unknown option '--fair=true'"},
        BadArguments{
            "DisplayGivenEmpty", {"--port", "0", "--display="}, "unknown option '--display='"},
        BadArguments{
            "HelpAfterABadValue", {"--port=abc", "--help"}, "invalid value 'abc' for --port"},
        BadArguments{"PassIntervalTooLong",
                     {"--pass-interval", "1001"},
                     "invalid value '1001' for --pass-interval"},
        BadArguments{"PassIntervalNotANumber",
                     {"--pass-interval=fast"},
                     "invalid value 'fast' for --pass-interval"},
        BadArguments{"NoMessagesPerPass",
                     {"--messages-per-pass", "0"},
                     "invalid value '0' for --messages-per-pass"}),
    [](const ::testing::TestParamInfo<BadArguments>& param) { return param.param.name; });

}  // namespace
