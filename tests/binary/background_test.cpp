// The real binary in the background of a terminal with job control, as an interactive shell
// runs `vor-server --port N &`, and started with SIGHUP ignored, as nohup starts it.

#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TerminalServer.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <regex>

namespace {

constexpr const char* RUNS_THE_NATIVE_BINARY =
    "runs the binary this build made on a terminal; VOR_SERVER_COMMAND names another server";

// The port from the line that follows the listening line of `--port 0`, or 0.
std::uint16_t ChosenPort(const std::string& output) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("The system chose port ([0-9]+)\\.\n"))) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoul(match[1]));
}

// With `tostop` set too, a background process that writes to the terminal is stopped.
class BackgroundOfAShell : public ::testing::TestWithParam<bool> {};

// Started in the background, the server greets players at once, takes the commands typed
// meanwhile once it is brought to the foreground, and then stops on quit.
TEST_P(BackgroundOfAShell, ServesThenTakesCommandsOnceInTheForeground) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << RUNS_THE_NATIVE_BINARY;
    }
    TerminalServer server({"--port", "0", "--bind", "127.0.0.1"}, GetParam());
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitForOutput("The system chose port ", WAIT_MS)) << server.Output();
    ASSERT_TRUE(server.WaitForOutput(".\n", WAIT_MS));
    const std::uint16_t port = ChosenPort(server.Output());
    ASSERT_NE(port, 0) << server.Output();

    LoopbackClient first(port);
    ASSERT_EQ(first.ReadGreeting(WAIT_MS), FIRST_ID) << "a background server stopped serving";
    ASSERT_TRUE(server.WaitForOutput(ConnectionLine(FIRST_ID), WAIT_MS));
    // Typed while the server is in the background: the terminal keeps the line.
    server.Type("players\n");
    LoopbackClient second(port);
    ASSERT_EQ(second.ReadGreeting(WAIT_MS), FIRST_ID + 1);
    ASSERT_TRUE(second.SendFrame(7, FIRST_ID, "still relayed"));
    EXPECT_EQ(first.ReadFrame(WAIT_MS), (Frame{7, FIRST_ID, "still relayed"}));

    ASSERT_TRUE(server.Foreground());
    EXPECT_TRUE(server.WaitForOutput("Player 3: 127.0.0.1, connected for ", WAIT_MS))
        << server.Output();
    server.Type("quit\n");
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 0);
    EXPECT_TRUE(server.Output().ends_with("Server stopped.\n")) << server.Output();
}

INSTANTIATE_TEST_SUITE_P(Terminal, BackgroundOfAShell, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "WritersStopped" : "Plain";
                         });

// A server started with SIGHUP ignored, as nohup starts it, goes on serving after one.
TEST(Hangup, IgnoredAtStartKeepsTheServerServing) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << RUNS_THE_NATIVE_BINARY;
    }
    ServerProcess server({"nohup"});
    const std::uint16_t port = server.ListenWithPortOption({});
    ASSERT_NE(port, 0) << server.Output() << server.ErrorOutput();
    server.Signal(SIGHUP);
    // Two admissions, so that at least one pass runs after the signal has been taken.
    LoopbackClient first(port);
    ASSERT_EQ(first.ReadGreeting(WAIT_MS), FIRST_ID);
    LoopbackClient second(port);
    ASSERT_EQ(second.ReadGreeting(WAIT_MS), FIRST_ID + 1);
    EXPECT_FALSE(server.WaitForExit(0).has_value());
    EXPECT_EQ(server.Output().find("Server stopped."), std::string::npos);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 0);
}

}  // namespace
