// The control socket in this process: lines in, the console's answers out, and its bounds.

#include "net/LocalSocket.h"
#include "server/ControlChannel.h"
#include "server/OperatorChannels.h"
#include "server/OperatorCommands.h"
#include "testing/PlatformTraits.h"
#include "testing/RelayHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A socket path of its own for each test, removed after it.
class ControlChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness.Listening());
        path = LocalSocketPath("vor-control-test-" + std::to_string(std::random_device{}()));
    }
    void TearDown() override {
        harness.state.channels.control.Close();
        if (LocalSocketIsAFile()) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }

    std::unique_ptr<LocalStream> Connect() {
        auto stream = std::make_unique<LocalStream>();
        EXPECT_EQ(stream->Connect(path), 0);
        return stream;
    }

    // Serves passes until `stream` has received `size` bytes (and `ending`, when given, at the
    // end) or has ended; what it received.
    std::string ReceiveServing(LocalStream& stream, std::size_t size, bool* ended = nullptr,
                               std::string_view ending = {}) {
        std::string received;
        bool closed = false;
        harness.RunPassesUntil([&] {
            EXPECT_EQ(ServeOperatorChannels(harness.state), CommandResult::Continue);
            char bytes[8192];
            LocalIo result{};
            while ((result = stream.Receive(bytes, sizeof bytes, 0)).status ==
                   LocalIoStatus::Done) {
                received.append(bytes, result.bytes);
            }
            closed = result.status == LocalIoStatus::Closed;
            return (received.size() >= size && received.ends_with(ending)) || closed;
        });
        if (ended != nullptr) {
            *ended = closed;
        }
        return received;
    }

    static bool Send(LocalStream& stream, const std::string& text) {
        const LocalIo sent = stream.Send(text.data(), text.size());
        return sent.status == LocalIoStatus::Done && sent.bytes == text.size();
    }

    // What the console prints for `line`, each answer followed by the empty line.
    std::string ConsoleAnswer(const std::string& line) {
        std::string text;
        CommandAnswer answer(text);
        RunOperatorCommand(harness.state, line, answer);
        return text + "\n";
    }

    RelayHarness harness;
    std::string path;
};

TEST_F(ControlChannelTest, LinesAreAnsweredInOrderWithTheConsolesTexts) {
    std::string problem;
    ASSERT_EQ(harness.state.channels.control.Open(path, problem), 0) << problem;
    PlayerId id = 0;
    auto player = harness.Join(id);
    ASSERT_NE(player, nullptr);
    auto stream = Connect();
    // Three lines in one write, the last split across two, one in Windows' line end.
    ASSERT_TRUE(Send(*stream, "help\nplayers\r\ndance\nsta"));
    ASSERT_TRUE(Send(*stream, "ts\nkick 99\n\n"));
    const std::string expected = ConsoleAnswer("help") + ConsoleAnswer("players") +
                                 ConsoleAnswer("dance") + ConsoleAnswer("stats") +
                                 ConsoleAnswer("kick 99") + "\n";
    const std::string received = ReceiveServing(*stream, expected.size());
    // The uptime of stats may tick between the two; every other byte is the same.
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_NE(received.find("Unknown command; type help for the list.\n\n"), std::string::npos);
    EXPECT_NE(received.find("No player 99.\n\n"), std::string::npos);
    EXPECT_TRUE(received.starts_with(ConsoleAnswer("help") + ConsoleAnswer("players")));
    EXPECT_TRUE(received.ends_with("\n\n\n"));

    // The answers went to the connection, not to the console.
    EXPECT_EQ(harness.ConsoleCount("Commands:"), 0u);

    // A kick's answer is the departure line, which the console prints too.
    ASSERT_TRUE(Send(*stream, "kick " + std::to_string(id) + "\nmetrics\n"));
    const std::string left = "Player " + std::to_string(id) + " left.\n";
    const std::string metrics = ReceiveServing(*stream, left.size() + 2, nullptr, "\n\n");
    EXPECT_TRUE(metrics.starts_with(left + "\n# HELP ")) << metrics;
    EXPECT_EQ(harness.ConsoleCount(left), 1u);
    EXPECT_NE(metrics.find("vor_server_removed_total{cause=\"kicked\"} 1\n"), std::string::npos);
}

TEST_F(ControlChannelTest, QuitIsAnsweredBeforeTheServerStops) {
    ServerOptions options;
    options.controlPath = path;
    std::string problem;
    ASSERT_EQ(OpenOperatorChannels(harness.state, options, problem), 0) << problem;
    auto stream = Connect();
    ASSERT_TRUE(Send(*stream, "quit\nplayers\n"));
    bool quit = false;
    harness.RunPassesUntil([&] {
        quit = ServeOperatorChannels(harness.state) == CommandResult::Quit;
        return quit;
    });
    ASSERT_TRUE(quit);
    char bytes[16];
    const LocalIo answer = stream->Receive(bytes, sizeof bytes, 10000);
    // The empty answer, and nothing for the line after quit.
    EXPECT_EQ(std::string(bytes, answer.bytes), "\n");
    CloseOperatorChannels(harness.state);
    // Nothing is reached there now.
    LocalStream late;
    EXPECT_EQ(late.Connect(path), 1);
    if (LocalSocketIsAFile()) {
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST_F(ControlChannelTest, ConnectionsPastTheBoundsAreClosedAndTheOthersServed) {
    std::string problem;
    ASSERT_EQ(harness.state.channels.control.Open(path, problem), 0);
    std::vector<std::unique_ptr<LocalStream>> streams;
    for (std::size_t index = 0; index < ControlChannel::MAX_CONNECTIONS; ++index) {
        streams.push_back(Connect());
    }
    // Taken in after the others: past the count, it is closed without an answer.
    ASSERT_EQ(ReceiveServing(*streams[0], 0), "");
    auto extra = Connect();
    ASSERT_TRUE(Send(*extra, "players\n"));
    bool ended = false;
    EXPECT_EQ(ReceiveServing(*extra, 1, &ended), "");
    EXPECT_TRUE(ended);

    // A line past the bound closes its connection without being carried out, in pieces or whole.
    std::string longLine(ControlChannel::LINE_LIMIT / 2, ' ');
    ASSERT_TRUE(Send(*streams[1], longLine));
    ASSERT_EQ(ReceiveServing(*streams[1], 0), "");
    ASSERT_TRUE(Send(*streams[1], longLine + " quit\n"));
    EXPECT_EQ(ReceiveServing(*streams[1], 1, &ended), "");
    EXPECT_TRUE(ended);
    // A line of exactly the bound is carried out.
    std::string longest(ControlChannel::LINE_LIMIT - 8, ' ');
    ASSERT_TRUE(Send(*streams[2], longest + "players\n"));
    EXPECT_EQ(ReceiveServing(*streams[2], 13), "No players.\n\n");

    // The places freed are taken again.
    auto again = Connect();
    ASSERT_TRUE(Send(*again, "players\n"));
    EXPECT_EQ(ReceiveServing(*again, 13), "No players.\n\n");
    for (std::size_t index : {0u, 3u}) {
        ASSERT_TRUE(Send(*streams[index], "players\n"));
        EXPECT_EQ(ReceiveServing(*streams[index], 13), "No players.\n\n") << index;
    }
}

TEST_F(ControlChannelTest, APathInUseOrNotASocketIsLeftAlone) {
    LocalListener live;
    ASSERT_EQ(live.Listen(path), 0);
    std::string problem;
    EXPECT_EQ(harness.state.channels.control.Open(path, problem), 1);
    EXPECT_NE(problem.find("a running server already listens at"), std::string::npos) << problem;
    // The live server is still reached there.
    LocalStream stream;
    EXPECT_EQ(stream.Connect(path), 0);
    EXPECT_NE(live.Accept(), nullptr);
    live.Close();
    if (!LocalSocketIsAFile()) {
        return;
    }
    EXPECT_FALSE(fs::exists(path));

    std::ofstream(path) << "notes\n";
    EXPECT_EQ(harness.state.channels.control.Open(path, problem), 1);
    EXPECT_NE(problem.find("is not a socket"), std::string::npos) << problem;
    std::ifstream kept(path);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "notes");
}

}  // namespace
