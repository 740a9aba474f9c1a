// The real binary commanded over its control socket with vor-ctl, its standard input empty, as
// under a service manager.

#include "net/LocalSocket.h"
#include "testing/LoopbackClient.h"
#include "testing/ProcessStats.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"
#include "tests/support/CommandRun.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <thread>

#ifndef VOR_CTL_PATH
#error "VOR_CTL_PATH must name the vor-ctl binary"
#endif

namespace {

namespace fs = std::filesystem;

constexpr const char* KILL_NEEDS_NATIVE_SERVER =
    "kills the server by its PID; VOR_SERVER_COMMAND names another server";

// vor-ctl of the server's own build: for a Windows server (run through wine), vor-ctl.exe in
// the same build, tools/ beside server/, run the same way.
std::vector<std::string> CtlCommand() {
    if (!ServerProcess::IsWindowsProgram()) {
        return {VOR_CTL_PATH};
    }
    std::vector<std::string> words = ServerProcess::Command();
    const std::string server = "server/vor-server.exe";
    if (words.back().ends_with(server)) {
        words.back().replace(words.back().size() - server.size(), server.size(),
                             "tools/vor-ctl.exe");
    }
    return words;
}

class ControlSocket : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = "vor-ctl-test-" + std::to_string(std::random_device{}());
        // A Windows server's control socket is a named pipe.
        path = ServerProcess::IsWindowsProgram()
                   ? R"(\\.\pipe\)" + name
                   : (fs::temp_directory_path() / (name + ".sock")).string();
    }
    void TearDown() override {
        if (!ServerProcess::IsWindowsProgram()) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }

    std::unique_ptr<ServerProcess> Start(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.end(), {"--control", path});
        auto server = StartOnPort(arguments, port);
        if (server) {
            server->CloseInput();
        }
        return server;
    }

    CommandRun Ctl(const std::vector<std::string>& words) {
        std::vector<std::string> argv = CtlCommand();
        argv.push_back(path);
        argv.insert(argv.end(), words.begin(), words.end());
        return RunCommand(argv, WAIT_MS).value_or(CommandRun{});
    }

    std::string path;
    std::uint16_t port = 0;
};

// A server that waits for work between passes wakes for a control connection.
TEST_F(ControlSocket, AServerThatWaitsForWorkAnswersEachCommand) {
    auto server = Start({"--pass-interval", "0"});
    ASSERT_NE(server, nullptr);
    for (int command = 0; command < 3; ++command) {
        const CommandRun stats = Ctl({"stats"});
        EXPECT_EQ(stats.status, 0);
        EXPECT_NE(stats.output.find("\nPlayers: 0 now,"), std::string::npos) << stats.output;
    }
}

// Answers longer than the socket takes at once are finished by a server that waits for work,
// which keeps serving the connection without a busy loop while the client does not read.
TEST_F(ControlSocket, AServerThatWaitsForWorkFinishesAnswersLongerThanTheSocketTakes) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP()
            << "reads the server's processor time; VOR_SERVER_COMMAND names another server";
    }
    constexpr int COMMANDS = 150;
    auto server = Start({"--pass-interval", "0"});
    ASSERT_NE(server, nullptr);
    LocalStream client;
    ASSERT_EQ(client.Connect(path), 0);
    std::string commands;
    for (int command = 0; command < COMMANDS; ++command) {
        commands += "metrics\n";
    }
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (sent < commands.size() && std::chrono::steady_clock::now() < deadline) {
        const LocalIo written = client.Send(commands.data() + sent, commands.size() - sent);
        ASSERT_TRUE(written.status == LocalIoStatus::Done ||
                    written.status == LocalIoStatus::WouldBlock);
        sent += written.bytes;
    }
    ASSERT_EQ(sent, commands.size());
    // The answers fill the socket while the client reads nothing.
    const long before = CpuMilliseconds(server->Pid()).value_or(-1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const long after = CpuMilliseconds(server->Pid()).value_or(-1);
    ASSERT_GE(before, 0);
    EXPECT_LT(after - before, 500) << "the server kept a core busy while it waited";

    std::string answers;
    std::size_t ends = 0;
    while (ends < COMMANDS &&
           std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5)) {
        char bytes[65536];
        const LocalIo received = client.Receive(bytes, sizeof bytes, 200);
        ASSERT_NE(received.status, LocalIoStatus::Failed);
        ASSERT_NE(received.status, LocalIoStatus::Closed);
        answers.append(bytes, received.bytes);
        ends = 0;
        for (std::size_t at = answers.find("\n\n"); at != std::string::npos;
             at = answers.find("\n\n", at + 2)) {
            ++ends;
        }
    }
    EXPECT_EQ(ends, static_cast<std::size_t>(COMMANDS));
}

TEST_F(ControlSocket, PlayersStatsAndKickAnswerOverTheSocket) {
    auto server = Start();
    ASSERT_NE(server, nullptr);
    const CommandRun none = Ctl({"players"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.output, "No players.\n");

    LoopbackClient two(port);
    ASSERT_EQ(two.ReadGreeting(WAIT_MS), 2);
    LoopbackClient three(port);
    ASSERT_EQ(three.ReadGreeting(WAIT_MS), 3);
    ASSERT_TRUE(two.SendFrame(1, 3, "abc"));
    ASSERT_EQ(three.ReadFrame(WAIT_MS), (Frame{1, 3, "abc"}));

    const CommandRun players = Ctl({"players"});
    EXPECT_EQ(players.status, 0);
    EXPECT_TRUE(std::regex_match(
        players.output,
        std::regex("Player 2: 127\\.0\\.0\\.1, connected for [0-9]+ s, messages in 1, "
                   "out 0, output kept 0 bytes\\.\n"
                   "Player 3: 127\\.0\\.0\\.1, connected for [0-9]+ s, messages in 0, "
                   "out 1, output kept 0 bytes\\.\n")))
        << players.output;
    const CommandRun stats = Ctl({"stats"});
    EXPECT_EQ(stats.status, 0);
    EXPECT_TRUE(std::regex_match(
        stats.output,
        std::regex("Up for [0-9]+ s: [1-9][0-9]* passes, the slowest [0-9]+\\.[0-9]{3} ms\\.\n"
                   "Players: 2 now, 2 at most, 2 admitted, 0 refused, 0 removed for "
                   "falling behind\\.\n"
                   "Messages: 1 in, 1 relayed \\(7 bytes\\)\\.\n")))
        << stats.output;

    // Words after the command make one line; the console prints the departure as well.
    const CommandRun kick = Ctl({"kick", "3"});
    EXPECT_EQ(kick.status, 0);
    EXPECT_EQ(kick.output, LeftLine(3));
    EXPECT_TRUE(three.ClosedByPeer(WAIT_MS));
    EXPECT_EQ(Ctl({"kick", "3"}).output, "No player 3.\n");
    EXPECT_EQ(Ctl({"dance"}).output, "Unknown command; type help for the list.\n");
    const CommandRun metrics = Ctl({"metrics"});
    EXPECT_EQ(metrics.status, 0);
    EXPECT_NE(metrics.output.find("\nvor_server_removed_total{cause=\"kicked\"} 1\n"),
              std::string::npos)
        << metrics.output;

    // The answers went to the connection; the console has the listening line and the
    // departure only.
    const std::string console = server->Output();
    EXPECT_EQ(console.find("No players."), std::string::npos);
    EXPECT_EQ(console.find("Up for "), std::string::npos);
    EXPECT_NE(console.find(LeftLine(3)), std::string::npos);
}

TEST_F(ControlSocket, QuitStopsTheServerAndRemovesTheSocket) {
    auto server = Start();
    ASSERT_NE(server, nullptr);
    const bool socketFile = !ServerProcess::IsWindowsProgram();
    if (socketFile) {
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }

    const CommandRun quit = Ctl({"quit"});
    EXPECT_EQ(quit.status, 0);
    EXPECT_EQ(quit.output, "");
    EXPECT_EQ(server->WaitForExit(WAIT_MS), 0);
    EXPECT_TRUE(server->Output().ends_with("Server stopped.\n"));
    if (socketFile) {
        EXPECT_FALSE(fs::exists(path));
    }
    // No server answers now.
    EXPECT_EQ(Ctl({"stats"}).status, 1);
}

TEST_F(ControlSocket, ALiveServersPathIsRefusedAndAKilledServersReplaced) {
    auto first = Start();
    ASSERT_NE(first, nullptr);
    std::uint16_t otherPort = 0;
    ServerProcess second;
    otherPort = second.ListenWithPortOption({"--control", path});
    EXPECT_EQ(otherPort, 0);
    EXPECT_EQ(second.WaitForExit(WAIT_MS), 1);
    EXPECT_NE(second.ErrorOutput().find("a running server already listens at '" + path + "'"),
              std::string::npos)
        << second.ErrorOutput();
    EXPECT_EQ(Ctl({"players"}).output, "No players.\n");
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << KILL_NEEDS_NATIVE_SERVER;
    }

    // Killed, it leaves its socket file behind; the next server takes the path over.
    first->Signal(SIGKILL);
    first->WaitForExit(WAIT_MS);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(Ctl({"players"}).status, 1);
    auto third = Start();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(Ctl({"players"}).output, "No players.\n");
}

}  // namespace
