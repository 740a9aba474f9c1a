// The operator's console dialogue of the real binary, driven through its standard input and
// compared byte for byte.

#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/support/PortHolder.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <ostream>
#include <string>

namespace {

// Long enough that a server that does not wait would have ended; a waiting one is never
// affected by the length.
constexpr int STILL_RUNNING_MS = 300;

std::string Repeated(std::string_view text, int times) {
    std::string result;
    for (int index = 0; index < times; ++index) {
        result += text;
    }
    return result;
}

TEST(ConsoleDialogue, PortAbove65535ListensOnLowBitsAndEchoesWholeNumber) {
    ServerProcess server;
    const std::uint16_t port = server.ListenWith(
        [](std::uint16_t chosen) { return std::to_string(65536u + chosen) + "\nn\n"; });
    ASSERT_NE(port, 0) << server.Output();
    const std::string typed = std::to_string(65536u + port);
    const std::string expected = ListeningTranscript(typed);
    ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);

    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
}

// The failure echoes the port as typed, whole, and pauses; a line or the end of the input ends
// the pause with exit status 0, whatever the display answer was.
TEST(ConsoleDialogue, PortInUseReportsFailurePausesAndExitsZeroAfterALineOrAtEndOfInput) {
    PortHolder holder;
    ASSERT_NE(holder.Port(), 0);
    for (const bool endOfInput : {false, true}) {
        ServerProcess server;
        const std::string typed = std::to_string((endOfInput ? 2 * 65536u : 0u) + holder.Port());
        server.WriteInput(typed + (endOfInput ? "\nn\n" : "\ny\n"));
        const std::string expected = FailureTranscript(typed);
        ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);

        EXPECT_FALSE(server.WaitForExit(STILL_RUNNING_MS).has_value())
            << "did not wait at the pause";
        if (endOfInput) {
            server.CloseInput();
        } else {
            server.WriteInput("\n");
        }
        EXPECT_EQ(server.WaitForExit(WAIT_MS), 0) << typed;
        const std::string output = server.Output();
        EXPECT_TRUE(output == expected || output == expected + "\n") << output;
    }
}

TEST(ConsoleDialogue, EndOfInputBeforeAPortExitsOneWithoutOpeningAnything) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << NEEDS_NATIVE_SERVER;
    }
    ServerProcess server;
    const std::string question = std::string(BANNER) + std::string(PORT_QUESTION);
    ASSERT_EQ(server.WaitForOutputSize(question.size(), WAIT_MS), question);
    EXPECT_EQ(server.OpenSocketCount(), 0);

    server.WriteInput("no port\n");
    const std::string askedTwice = question + std::string(PORT_QUESTION);
    ASSERT_EQ(server.WaitForOutputSize(askedTwice.size(), WAIT_MS), askedTwice);
    EXPECT_EQ(server.OpenSocketCount(), 0);

    server.CloseInput();
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 1);
    EXPECT_EQ(server.Output(), askedTwice);
}

TEST(ConsoleDialogue, EndOfInputRightAfterTheBannerExitsOne) {
    ServerProcess server;
    server.CloseInput();
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 1);
    EXPECT_EQ(server.Output(), std::string(BANNER) + std::string(PORT_QUESTION));
}

// A reply that is not an unsigned 32-bit decimal number is dropped and the question asked again,
// once for each line of such replies.
class RejectedPortReply : public ::testing::TestWithParam<const char*> {};

TEST_P(RejectedPortReply, AsksForThePortAgain) {
    ServerProcess server;
    const std::string rejected = GetParam();
    const std::uint16_t port = server.ListenWith([&rejected](std::uint16_t chosen) {
        return rejected + "\n" + std::to_string(chosen) + "\nn\n";
    });
    ASSERT_NE(port, 0) << server.Output();
    const auto lines = static_cast<int>(std::count(rejected.begin(), rejected.end(), '\n')) + 1;
    const std::string expected = std::string(BANNER) + Repeated(PORT_QUESTION, lines) +
                                 ListeningTranscript(std::to_string(port)).substr(BANNER.size());
    ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);

    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
}

INSTANTIATE_TEST_SUITE_P(NotANumber, RejectedPortReply,
                         ::testing::Values("abc", "-5", "+5", "", "   ", "4294967296",
                                           "99999999999999999999", "80x", "x\n-1\n"));

// The display answer, seen through a message addressed to the server: its four lines appear
// before the sender's departure exactly when display is on.
struct DisplayCase {
    const char* name;
    // What follows the port number on its line and after it.
    const char* afterPort;
    bool closeInput;
    bool display;
};

void PrintTo(const DisplayCase& answer, std::ostream* out) {
    *out << answer.name;
}

class DisplayAnswer : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayAnswer, DecidesWhetherServerMessagesAreShown) {
    const DisplayCase& answer = GetParam();
    ServerProcess server;
    const std::uint16_t port = server.ListenWith(
        [&answer](std::uint16_t chosen) { return std::to_string(chosen) + answer.afterPort; },
        answer.closeInput);
    ASSERT_NE(port, 0) << server.Output();
    std::string expected = ListeningTranscript(std::to_string(port));
    ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);

    LoopbackClient client(port);
    ASSERT_TRUE(client.Connected());
    ASSERT_EQ(client.ReadGreeting(WAIT_MS), FIRST_ID);
    std::vector<std::uint8_t> bytes = EncodeTestFrame(7, 1, "hi");
    const std::vector<std::uint8_t> leave = EncodeTestFrame(255, 1, "");
    bytes.insert(bytes.end(), leave.begin(), leave.end());
    ASSERT_TRUE(client.SendBytes(bytes));

    expected += ConnectionLine(FIRST_ID);
    if (answer.display) {
        expected += ShownMessage(7, FIRST_ID, "hi", 2);
    }
    expected += LeftLine(FIRST_ID);
    EXPECT_TRUE(server.WaitForOutput(LeftLine(FIRST_ID), WAIT_MS));
    EXPECT_EQ(server.Output(), expected);
    EXPECT_FALSE(server.WaitForExit(0).has_value());
}

INSTANTIATE_TEST_SUITE_P(Answers, DisplayAnswer,
                         ::testing::Values(DisplayCase{"LowerY", "\ny\n", false, true},
                                           DisplayCase{"UpperY", "\nY\n", false, true},
                                           DisplayCase{"Yes", "\nyes\n", false, true},
                                           DisplayCase{"OnThePortLine", " y\n", false, true},
                                           DisplayCase{"AfterABlankLine", "\n\n  Y\n", false, true},
                                           DisplayCase{"LowerN", "\nn\n", false, false},
                                           DisplayCase{"OtherLetter", "\nx\n", false, false},
                                           DisplayCase{"NOnThePortLine", " n\n", false, false},
                                           DisplayCase{"EndOfInput", "\n", true, false}),
                         [](const ::testing::TestParamInfo<DisplayCase>& param) {
                             return param.param.name;
                         });

// The operator's console takes commands from the line after the display answer, typed with the
// replies in one go; from the listening line on, SIGINT and SIGTERM stop the server cleanly.
class DialogueThenStop : public ::testing::TestWithParam<int> {};

TEST_P(DialogueThenStop, CommandsFollowTheDisplayAnswerAndASignalStopsCleanly) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << "sends POSIX signals; VOR_SERVER_COMMAND names another server";
    }
    ServerProcess server;
    const std::uint16_t port = server.ListenWith(
        [](std::uint16_t chosen) { return std::to_string(chosen) + "\nn\nplayers\n"; });
    ASSERT_NE(port, 0) << server.Output();
    std::string expected = ListeningTranscript(std::to_string(port)) + "No players.\n";
    ASSERT_EQ(server.WaitForOutputSize(expected.size(), WAIT_MS), expected);
    server.Signal(GetParam());
    EXPECT_EQ(server.WaitForExit(WAIT_MS), 0);
    EXPECT_EQ(server.Output(), expected + "Server stopped.\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, DialogueThenStop, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

// Before the listening line, Ctrl+C ends the process at once, so that an operator can leave
// the dialogue.
TEST(ConsoleDialogue, InterruptBeforeTheListeningLineEndsTheProcessAtOnce) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << "sends POSIX signals; VOR_SERVER_COMMAND names another server";
    }
    for (const char* typed : {"", "4711\n"}) {
        ServerProcess server;
        server.WriteInput(typed);
        const std::string asked = std::string(*typed == '\0' ? PORT_QUESTION : DISPLAY_QUESTION);
        ASSERT_TRUE(server.WaitForOutput(asked, WAIT_MS)) << server.Output();
        server.Signal(SIGINT);
        EXPECT_EQ(server.WaitForExit(WAIT_MS), 128 + SIGINT) << typed;
        EXPECT_EQ(server.Output().find("Server stopped."), std::string::npos);
    }
}

}  // namespace
