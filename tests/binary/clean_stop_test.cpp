// Stopping the real binary cleanly: by SIGTERM, SIGINT, SIGHUP or the console's quit, with
// players that are still owed frames, and with a player flooding it while it stops.

#include "testing/Deadline.h"
#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"
#include "tests/faults/FrameStream.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

namespace {

// Enough frames that the receiver's socket cannot hold them all.
constexpr int SENDERS = 24;
constexpr int FRAMES_PER_SENDER = 12;
constexpr std::uint16_t RECEIVER_ID = 2;

enum class StopBy { Terminate, Interrupt, Hangup, QuitCommand };

// A server run through another command (VOR_SERVER_COMMAND, such as wine) gets POSIX signals
// only as that command passes them on.
constexpr const char* SIGNALS_NEED_NATIVE_SERVER =
    "sends POSIX signals; VOR_SERVER_COMMAND names another server";

class CleanStop : public ::testing::TestWithParam<StopBy> {};

// The line the `players` command shows for player `id`, or "" when none comes in time.
std::string PlayerLineOf(ServerProcess& server, std::uint16_t id) {
    const std::size_t before = server.Output().size();
    server.WriteInput("players\n");
    const std::string line = "Player " + std::to_string(id) + ":";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    for (;;) {
        const std::string output = server.Output();
        const std::size_t at = output.find(line, before);
        const std::size_t end = at == std::string::npos ? at : output.find('\n', at);
        if (end != std::string::npos) {
            return output.substr(at, end - at);
        }
        if (RemainingMs(deadline) == 0) {
            return "";
        }
        server.WaitForOutputSize(output.size() + 1, RemainingMs(deadline));
    }
}

// Asks `players` until the line of player `id` matches `pattern`, for as long as a loaded
// machine may need; the last line seen.
std::string PlayerLineMatching(ServerProcess& server, std::uint16_t id, const std::regex& pattern) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * WAIT_MS);
    std::string line = PlayerLineOf(server, id);
    while (!std::regex_search(line, pattern) && RemainingMs(deadline) > 0) {
        line = PlayerLineOf(server, id);
    }
    return line;
}

// A receiver that reads nothing until the stop, with a small window so that the server keeps
// output for it, and SENDERS players that have sent it FRAMES_PER_SENDER numbered frames each,
// every one of them relayed.
struct OwedFrames {
    std::unique_ptr<LoopbackClient> receiver;
    std::vector<std::unique_ptr<LoopbackClient>> senders;
};

void OweFrames(ServerProcess& server, std::uint16_t port, OwedFrames& owed) {
    owed.receiver = std::make_unique<LoopbackClient>(port, LoopbackClient::Window::Narrow);
    ASSERT_TRUE(owed.receiver->Connected());
    ASSERT_TRUE(server.WaitForOutput(ConnectionLine(RECEIVER_ID), WAIT_MS));
    for (int sender = 0; sender < SENDERS; ++sender) {
        const auto id = static_cast<std::uint16_t>(RECEIVER_ID + 1 + sender);
        owed.senders.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_EQ(owed.senders.back()->ReadGreeting(WAIT_MS), id);
    }
    for (int sequence = 0; sequence < FRAMES_PER_SENDER; ++sequence) {
        for (int sender = 0; sender < SENDERS; ++sender) {
            ASSERT_TRUE(owed.senders[static_cast<std::size_t>(sender)]->SendBytes(
                NumberedFrame(7, RECEIVER_ID, static_cast<std::uint8_t>(sender),
                              static_cast<std::uint16_t>(sequence))));
        }
    }
    // Every frame has been relayed once the receiver is counted with all of them.
    const std::string allRelayed = "out " + std::to_string(SENDERS * FRAMES_PER_SENDER) + ",";
    const std::string receiverLine =
        PlayerLineMatching(server, RECEIVER_ID, std::regex(allRelayed));
    ASSERT_NE(receiverLine.find(allRelayed), std::string::npos) << receiverLine;
    EXPECT_TRUE(std::regex_search(receiverLine, std::regex("output kept [1-9][0-9]* bytes")))
        << "the test needs output kept for the receiver: " << receiverLine;
}

// What the receiver read up to the end of its stream: the greeting and every owed frame, whole
// and in order from each sender, then an orderly end.
void ExpectEverythingOwed(std::vector<std::uint8_t> bytes, bool ended, bool inOrder) {
    EXPECT_TRUE(ended);
    EXPECT_TRUE(inOrder) << "the connection was reset";
    std::vector<Frame> frames = TakeWholeFrames(bytes);
    EXPECT_TRUE(bytes.empty()) << "a frame was cut short";
    ASSERT_EQ(frames.size(), 2u + SENDERS * FRAMES_PER_SENDER);
    std::vector<int> next(SENDERS, 0);
    for (std::size_t index = 2; index < frames.size(); ++index) {
        Numbered numbers;
        ASSERT_TRUE(ReadNumbers(frames[index], numbers));
        ASSERT_LT(numbers.sender, SENDERS);
        EXPECT_EQ(numbers.sequence, next[numbers.sender]++);
    }
}

// Every client reads all the frames it was owed and then an orderly end of its stream.
TEST_P(CleanStop, ClientsGetEverythingOwedThenTheEnd) {
    if (GetParam() != StopBy::QuitCommand && !ServerProcess::IsNative()) {
        GTEST_SKIP() << SIGNALS_NEED_NATIVE_SERVER;
    }
    std::uint16_t port = 0;
    auto server = StartOnPort({}, port);
    ASSERT_NE(server, nullptr);
    OwedFrames owed;
    OweFrames(*server, port, owed);
    ASSERT_FALSE(HasFatalFailure());

    // The receiver also sends more than the server takes in (64 KiB), to an id nobody holds, so
    // that its socket still holds unread input at the stop: closing it then would reset the
    // connection and lose the frames the receiver has not read yet. Little enough that the
    // server's socket takes it all in.
    std::vector<std::uint8_t> unread;
    while (unread.size() < 100 * 1024) {
        const std::vector<std::uint8_t> frame = EncodeTestFrame(9, 60000, std::string(255, 'u'));
        unread.insert(unread.end(), frame.begin(), frame.end());
    }
    std::size_t sentUnread = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (sentUnread < unread.size() && RemainingMs(deadline) > 0) {
        const long sent = owed.receiver->SendWithin(
            unread.data() + sentUnread, unread.size() - sentUnread, RemainingMs(deadline));
        ASSERT_GE(sent, 0);
        sentUnread += static_cast<std::size_t>(sent);
    }
    ASSERT_GT(sentUnread, 80u * 1024u);

    switch (GetParam()) {
        case StopBy::Terminate:
            server->Signal(SIGTERM);
            break;
        case StopBy::Interrupt:
            server->Signal(SIGINT);
            break;
        case StopBy::Hangup:
            server->Signal(SIGHUP);
            break;
        case StopBy::QuitCommand:
            server->WriteInput("quit\n");
            break;
    }
    bool ended = false;
    bool inOrder = false;
    std::vector<std::uint8_t> bytes = owed.receiver->ReadUntilClosed(WAIT_MS, ended, &inOrder);
    ExpectEverythingOwed(std::move(bytes), ended, inOrder);
    for (auto& sender : owed.senders) {
        EXPECT_TRUE(sender->ClosedByPeer(WAIT_MS));
    }
    EXPECT_EQ(server->WaitForExit(WAIT_MS), 0);
    const std::string output = server->Output();
    EXPECT_TRUE(output.ends_with(" bytes.\nServer stopped.\n")) << output;
    EXPECT_EQ(output.find("left."), std::string::npos) << "a stop is not a departure";
}

INSTANTIATE_TEST_SUITE_P(Ways, CleanStop,
                         ::testing::Values(StopBy::Terminate, StopBy::Interrupt, StopBy::Hangup,
                                           StopBy::QuitCommand),
                         [](const ::testing::TestParamInfo<StopBy>& param) {
                             switch (param.param) {
                                 case StopBy::Terminate:
                                     return "SIGTERM";
                                 case StopBy::Interrupt:
                                     return "SIGINT";
                                 case StopBy::Hangup:
                                     return "SIGHUP";
                                 case StopBy::QuitCommand:
                                     return "Quit";
                             }
                             return "Unknown";
                         });

// A player that floods the server as fast as loopback takes it while the server stops: the stop
// keeps serving's bounds on memory, ends within its second, and the others' frames arrive whole.
TEST(CleanStopFlood, KeepsItsBoundsAndItsTimeWhileAPlayerFloods) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << SIGNALS_NEED_NATIVE_SERVER;
    }
    // Well above what the stop holds (the receiver's kept output, 64 KiB of input per player),
    // well below what taking a flood without its bound holds within the time.
    constexpr long GROWTH_BOUND_KB = 8 * 1024;
    // The stop's second and the exit, with the margin of a loaded machine.
    constexpr auto STOP_BOUND = std::chrono::seconds(8);
    constexpr std::uint16_t NOBODY = 60000;
    std::uint16_t port = 0;
    auto server = StartOnPort({}, port);
    ASSERT_NE(server, nullptr);
    OwedFrames owed;
    OweFrames(*server, port, owed);
    ASSERT_FALSE(HasFatalFailure());
    const auto flooderId = static_cast<std::uint16_t>(RECEIVER_ID + 1 + SENDERS);
    LoopbackClient flooder(port);
    ASSERT_EQ(flooder.ReadGreeting(WAIT_MS), flooderId);

    std::atomic<bool> floodDone{false};
    std::thread flood([&] {
        const std::vector<std::uint8_t> frame = EncodeTestFrame(9, NOBODY, std::string(255, 'f'));
        std::vector<std::uint8_t> batch;
        for (int copy = 0; copy < 256; ++copy) {
            batch.insert(batch.end(), frame.begin(), frame.end());
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::size_t offset = 0;
        while (!floodDone && std::chrono::steady_clock::now() < until) {
            const long sent = flooder.SendWithin(batch.data() + offset, batch.size() - offset, 50);
            if (sent < 0) {
                break;
            }
            offset = (offset + static_cast<std::size_t>(sent)) % batch.size();
        }
    });
    // The server is taking the flood in once it counts messages from the flooder.
    const std::regex takingIn("in [1-9]");
    const std::string flooderLine = PlayerLineMatching(*server, flooderId, takingIn);
    EXPECT_TRUE(std::regex_search(flooderLine, takingIn)) << flooderLine;

    const long before = server->ResidentKilobytes();
    if (before <= 0) {
        floodDone = true;
        flood.join();
        FAIL() << "the server's resident memory cannot be read";
    }
    server->Signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> bytes;
    bool ended = false;
    bool inOrder = false;
    std::thread receiving(
        [&] { bytes = owed.receiver->ReadUntilClosed(WAIT_MS, ended, &inOrder); });
    long peak = before;
    std::optional<int> status;
    while (!(status = server->WaitForExit(20)) &&
           std::chrono::steady_clock::now() - signalled < STOP_BOUND) {
        peak = std::max(peak, server->ResidentKilobytes());
        // Past the bound the fault is shown; the flood stops before it costs the machine more.
        if (peak - before >= GROWTH_BOUND_KB) {
            break;
        }
    }
    floodDone = true;
    flood.join();
    receiving.join();

    EXPECT_EQ(status, 0) << "the stop outlasted its time while a player flooded";
    EXPECT_LT(peak - before, GROWTH_BOUND_KB) << "resident memory grew from " << before << " KiB";
    ExpectEverythingOwed(std::move(bytes), ended, inOrder);
    EXPECT_TRUE(server->Output().ends_with("Server stopped.\n"));
}

TEST(CleanStopIdle, StopsAtOnceWithNoPlayersAndFreesThePort) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << SIGNALS_NEED_NATIVE_SERVER;
    }
    std::uint16_t port = 0;
    auto server = StartOnPort({}, port);
    ASSERT_NE(server, nullptr);
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(WAIT_MS), 0);
    EXPECT_EQ(server->Output(), CommandLineTranscript(std::to_string(port)) + "Server stopped.\n");
    LoopbackClient late(port);
    EXPECT_FALSE(late.Connected());
}

}  // namespace
