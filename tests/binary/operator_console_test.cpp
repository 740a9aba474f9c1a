// The operator's commands typed to the real binary while it serves.

#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr std::string_view UNKNOWN = "Unknown command; type help for the list.\n";

class OperatorConsole : public ::testing::Test {
protected:
    void SetUp() override {
        server = StartOnPort({"--display"}, port);
        ASSERT_NE(server, nullptr);
    }

    std::unique_ptr<LoopbackClient> Join(std::uint16_t expectedId) {
        return JoinAs(*server, port, expectedId);
    }

    std::string Answer(const std::string& command, std::size_t lines) {
        return AnswerTo(*server, command, lines);
    }

    std::unique_ptr<ServerProcess> server;
    std::uint16_t port = 0;
};

TEST_F(OperatorConsole, PlayersAndStatsCountAScriptedExchange) {
    auto two = Join(2);
    auto three = Join(3);
    ASSERT_TRUE(two->SendFrame(1, 3, "a"));
    ASSERT_EQ(three->ReadFrame(WAIT_MS), (Frame{1, 3, "a"}));
    ASSERT_TRUE(three->SendFrame(2, 0, "bb"));
    ASSERT_EQ(two->ReadFrame(WAIT_MS), (Frame{2, 0, "bb"}));
    ASSERT_TRUE(two->SendFrame(3, 1, "c"));
    ASSERT_TRUE(server->WaitForOutput(ShownMessage(3, 2, "c", 1), WAIT_MS));

    const std::string players = Answer("players", 2);
    EXPECT_TRUE(std::regex_match(
        players, std::regex("Player 2: 127\\.0\\.0\\.1, connected for [0-9]+ s, messages in 2, "
                            "out 1, output kept 0 bytes\\.\n"
                            "Player 3: 127\\.0\\.0\\.1, connected for [0-9]+ s, messages in 1, "
                            "out 1, output kept 0 bytes\\.\n")))
        << players;

    const std::string stats = Answer("stats", 3);
    EXPECT_TRUE(std::regex_match(
        stats,
        std::regex("Up for [0-9]+ s: [1-9][0-9]* passes, the slowest [0-9]+\\.[0-9]{3} ms\\.\n"
                   "Players: 2 now, 2 at most, 2 admitted, 0 refused, 0 removed for "
                   "falling behind\\.\n"
                   "Messages: 3 in, 2 relayed \\(11 bytes\\)\\.\n")))
        << stats;
}

TEST_F(OperatorConsole, KickRemovesAPlayerAndNamesAnUnknownId) {
    auto two = Join(2);
    auto three = Join(3);
    EXPECT_EQ(Answer("kick 3", 1), LeftLine(3));
    EXPECT_TRUE(three->ClosedByPeer(WAIT_MS));
    EXPECT_EQ(Answer("kick 3", 1), "No player 3.\n");
    EXPECT_EQ(Answer("  kick   9  ", 1), "No player 9.\n");
    const std::string usage = "Usage: kick ID, with a player ID from 2 to 65535.\n";
    EXPECT_EQ(Answer("kick", 1), usage);
    EXPECT_EQ(Answer("kick 1", 1), usage);
    EXPECT_EQ(Answer("kick two", 1), usage);
    EXPECT_EQ(Answer("kick 2 3", 1), usage);
    EXPECT_NE(Answer("stats", 3).find("Players: 1 now, 2 at most, 2 admitted"), std::string::npos);
}

TEST_F(OperatorConsole, UnknownCommandsAndHelpAnswerOneWayEach) {
    EXPECT_EQ(Answer("dance", 1), UNKNOWN);
    EXPECT_EQ(Answer("players now", 1), UNKNOWN);
    EXPECT_EQ(Answer("PLAYERS", 1), UNKNOWN);
    EXPECT_EQ(Answer("players", 1), "No players.\n");
    const std::string help = Answer("help", 7);
    EXPECT_TRUE(help.starts_with("Commands:\n")) << help;
    for (const char* command : {"players", "kick ID", "stats", "quit", "help"}) {
        EXPECT_NE(help.find(std::string("  ") + command + " "), std::string::npos) << command;
    }
    // An empty line is no command at all, and the server says nothing.
    EXPECT_EQ(Answer("", 0), "");
    EXPECT_EQ(Answer("players", 1), "No players.\n");
}

TEST_F(OperatorConsole, EndOfInputEndsOnlyTheCommands) {
    server->CloseInput();
    auto two = Join(2);
    auto three = Join(3);
    ASSERT_TRUE(two->SendFrame(5, 3, "still relayed"));
    EXPECT_EQ(three->ReadFrame(WAIT_MS), (Frame{5, 3, "still relayed"}));
    EXPECT_FALSE(server->WaitForExit(0).has_value());
}

// While one player floods, commands are answered and another player's messages are handled:
// the commands are read beside the passes, which go on, and answered between them.
TEST_F(OperatorConsole, CommandsDuringAFloodDoNotStallThePasses) {
    auto flooder = Join(2);
    auto other = Join(3);
    std::vector<std::uint8_t> flood;
    const std::vector<std::uint8_t> frame = EncodeTestFrame(9, 99, std::string(255, 'f'));
    for (int copy = 0; copy < 64; ++copy) {
        flood.insert(flood.end(), frame.begin(), frame.end());
    }
    std::size_t floodOffset = 0;
    std::size_t flooded = 0;
    const auto pushFlood = [&](int milliseconds) {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < until) {
            const std::size_t sent =
                flooder->SendWithoutWaiting(flood.data() + floodOffset, flood.size() - floodOffset);
            flooded += sent;
            floodOffset = (floodOffset + sent) % flood.size();
            flooder->WaitWritable(10);
        }
    };
    // More than the server takes from one player at a time, so that it is held back.
    pushFlood(200);
    ASSERT_GT(flooded, std::size_t{64 * 1024});
    constexpr int ROUNDS = 5;
    for (int round = 0; round < ROUNDS; ++round) {
        const std::string value = "round " + std::to_string(round);
        const std::string shown = ShownMessage(4, 3, value, static_cast<int>(value.size()));
        const auto answered = [&] {
            const std::string output = server->Output();
            std::size_t answers = 0;
            for (std::size_t at = output.find("Up for "); at != std::string::npos;
                 at = output.find("Up for ", at + 1)) {
                ++answers;
            }
            return answers > static_cast<std::size_t>(round) &&
                   output.find(shown) != std::string::npos;
        };
        server->WriteInput("stats\n");
        ASSERT_TRUE(other->SendFrame(4, 1, value));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
        while (!answered() && std::chrono::steady_clock::now() < deadline) {
            pushFlood(50);
        }
        ASSERT_TRUE(answered()) << "round " << round;
    }
    // The answers are printed between passes, so none lands inside the four lines of a shown
    // message.
    const std::string output = server->Output();
    std::size_t blocks = 0;
    for (std::size_t at = output.find("Received a message.\n"); at != std::string::npos;
         at = output.find("Received a message.\n", at + 1)) {
        const std::string block = output.substr(at, output.find(")\n", at) + 2 - at);
        EXPECT_TRUE(
            std::regex_match(block, std::regex("Received a message\\.\nID \t= 4\nFrom \t= 3\n"
                                               "Value \t= round [0-9] \\(7\\)\n")))
            << block;
        ++blocks;
    }
    EXPECT_EQ(blocks, static_cast<std::size_t>(ROUNDS));
}

// Passes come about every 100 ms, each admitting at most one waiting client: a dozen clients
// that connect at once are admitted over a second or more, and the pass count follows the
// uptime. The bounds are generous, for a loaded machine; docs/performance.md has the figures.
TEST_F(OperatorConsole, PassesComeAboutTenASecondEachAdmittingOneClient) {
    constexpr int CLIENTS = 12;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int client = 0; client < CLIENTS; ++client) {
        clients.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_TRUE(clients.back()->Connected());
    }
    ASSERT_TRUE(server->WaitForOutputCount("New connection from ", CLIENTS, 6 * WAIT_MS));
    const auto admitting = std::chrono::steady_clock::now() - start;
    EXPECT_GE(admitting, std::chrono::milliseconds((CLIENTS - 1) * 100 * 9 / 10));

    const std::string stats = Answer("stats", 1);
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(stats, counts, std::regex("Up for ([0-9]+) s: ([0-9]+) passes")))
        << stats;
    const long seconds = std::stol(counts[1]);
    const long passes = std::stol(counts[2]);
    // The uptime is whole seconds, cut short.
    EXPECT_LE(passes, 10 * (seconds + 1) + 1) << stats;
    EXPECT_GE(passes, 2 * seconds) << stats;
    EXPECT_GE(passes, CLIENTS) << stats;
}

// A console that is a pipe whose reader has gone (a closed `| tee`, a dead log collector) costs
// the server its console lines, not its players.
TEST(ConsoleReaderGone, ServerServesOnWhenItsConsoleLinesMeetABrokenPipe) {
    std::uint16_t port = 0;
    auto server = StartOnPort({}, port);
    ASSERT_NE(server, nullptr);
    server->CloseOutput();
    LoopbackClient two(port);
    EXPECT_EQ(two.ReadGreeting(WAIT_MS), 2);
    // The first console line after the close met the broken pipe; the server goes on.
    LoopbackClient three(port);
    EXPECT_EQ(three.ReadGreeting(WAIT_MS), 3);
    ASSERT_TRUE(two.SendFrame(5, 3, "still served"));
    EXPECT_EQ(three.ReadFrame(WAIT_MS), (Frame{5, 3, "still served"}));
    EXPECT_FALSE(server->WaitForExit(0).has_value());
}

}  // namespace
