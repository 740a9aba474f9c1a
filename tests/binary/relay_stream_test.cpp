// The byte stream under the relay: frames that arrive in pieces, a client that floods the
// server, and clients whose connection ends.

#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Stream = RelayScene;
using namespace std::chrono_literals;

TEST_F(Stream, FrameWrittenInManyPiecesIsRelayedOnceAndWhole) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    std::string value;
    for (int index = 0; index < 255; ++index) {
        value += static_cast<char>('a' + index % 26);
    }
    std::vector<std::uint8_t> bytes = EncodeTestFrame(7, 0, value);
    const std::vector<std::uint8_t> next = EncodeTestFrame(9, 0, "!");
    bytes.insert(bytes.end(), next.begin(), next.end());

    // Single bytes through the header, then growing pieces; the last one ends the first frame
    // and carries the whole next one. The pauses let passes run between the pieces.
    LoopbackClient& sender = Player(3);
    sender.EnableNoDelay();
    std::size_t sent = 0;
    for (std::size_t piece = 1, previous = 1; sent < bytes.size();) {
        const std::size_t size = std::min(piece, bytes.size() - sent);
        ASSERT_TRUE(sender.SendBytes(bytes.data() + sent, size));
        sent += size;
        const std::size_t grown = piece + previous;
        previous = piece;
        piece = sent < 4 ? 1 : grown;
        std::this_thread::sleep_for(40ms);
    }

    for (const std::uint16_t receiver : {std::uint16_t{2}, std::uint16_t{4}}) {
        EXPECT_EQ(Player(receiver).ReadFrame(WAIT_MS), (Frame{7, 0, value})) << receiver;
        EXPECT_EQ(Player(receiver).ReadFrame(WAIT_MS), (Frame{9, 0, "!"})) << receiver;
    }
    ExpectConsole(ShownMessage(7, 3, value, 255) + ShownMessage(9, 3, "!", 1));
    ASSERT_TRUE(Player(2).SendFrame(8, 3, "marker"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{8, 3, "marker"}));
}

// Writes whole frames to a player id nobody holds, as fast as the connection takes them, from
// its own thread, until told to stop or a bound is reached.
class Flooder {
public:
    static constexpr std::size_t LIMIT_BYTES = 30u << 20;
    static constexpr auto LIMIT_TIME = 60s;

    explicit Flooder(LoopbackClient& target) : client(target) {
        const std::vector<std::uint8_t> frame = EncodeTestFrame(9, 999, std::string(255, 'f'));
        while (pattern.size() + frame.size() <= 64 * 1024) {
            pattern.insert(pattern.end(), frame.begin(), frame.end());
        }
        writer = std::thread([this] { Run(); });
    }
    ~Flooder() { Stop(); }

    void Stop() {
        stopping = true;
        if (writer.joinable()) {
            writer.join();
        }
    }
    std::size_t Sent() const { return sent; }
    bool Failed() const { return failed; }

    // Waits until the writer has stalled (the server takes in bytes only as it handles
    // messages, a few KiB a second) or has reached a bound.
    void WaitUntilSaturated() const {
        constexpr std::size_t STALLED_BYTES_PER_SECOND = 256 * 1024;
        const auto deadline = std::chrono::steady_clock::now() + LIMIT_TIME;
        std::size_t before = 0;
        while (std::chrono::steady_clock::now() < deadline && sent < LIMIT_BYTES && !failed) {
            std::this_thread::sleep_for(1s);
            if (sent > 0 && sent - before < STALLED_BYTES_PER_SECOND) {
                return;
            }
            before = sent;
        }
    }

private:
    void Run() {
        const auto deadline = std::chrono::steady_clock::now() + LIMIT_TIME;
        std::size_t offset = 0;
        while (!stopping && sent < LIMIT_BYTES && std::chrono::steady_clock::now() < deadline) {
            const long result =
                client.SendWithin(pattern.data() + offset, pattern.size() - offset, 100);
            if (result < 0) {
                failed = true;
                return;
            }
            sent += static_cast<std::size_t>(result);
            offset = (offset + static_cast<std::size_t>(result)) % pattern.size();
        }
    }

    LoopbackClient& client;
    std::vector<std::uint8_t> pattern;
    std::atomic<bool> stopping{false};
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> sent{0};
    std::thread writer;
};

TEST_F(Stream, FloodingClientDoesNotStopOthersOrGrowTheServer) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << NEEDS_NATIVE_SERVER;
    }
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    const long memoryBefore = server.ResidentKilobytes();
    ASSERT_GT(memoryBefore, 0);

    Flooder flood(Player(2));
    flood.WaitUntilSaturated();
    EXPECT_FALSE(flood.Failed());
    EXPECT_LT(flood.Sent(), Flooder::LIMIT_BYTES) << "the server took in everything sent";

    // Player 2 floods and comes first in every pass; players 3 and 4 still get through.
    for (int round = 0; round < 5; ++round) {
        const std::string text = std::to_string(round);
        ASSERT_TRUE(Player(3).SendFrame(7, 4, "to 4: " + text));
        EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{7, 4, "to 4: " + text}));
        ASSERT_TRUE(Player(4).SendFrame(7, 3, "to 3: " + text));
        EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{7, 3, "to 3: " + text}));
    }
    ASSERT_TRUE(Player(4).SendFrame(8, 1, "still here"));
    ExpectConsole(ShownMessage(8, 4, "still here", 10));

    const long memoryAfter = server.ResidentKilobytes();
    EXPECT_LT(memoryAfter - memoryBefore, 16 * 1024) << "KiB before " << memoryBefore;
    EXPECT_FALSE(flood.Failed());
    flood.Stop();

    EXPECT_FALSE(server.WaitForExit(0).has_value());
    ASSERT_NO_FATAL_FAILURE(Join(5));
    ASSERT_TRUE(Player(5).SendFrame(9, 3, "late"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{9, 3, "late"}));
}

TEST_F(Stream, ClosedClientIsReportedAndItsIdReused) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(false, 3));
    Player(2).Close();
    ExpectConsole(LeftLine(2));

    // The players after it are still served.
    ASSERT_TRUE(Player(3).SendFrame(7, 4, "to 4"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{7, 4, "to 4"}));
    ASSERT_TRUE(Player(4).SendFrame(7, 0, "all"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{7, 0, "all"}));

    ASSERT_NO_FATAL_FAILURE(Join(2));
    ASSERT_TRUE(Player(2).SendFrame(8, 0, "back"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{8, 0, "back"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{8, 0, "back"}));
}

TEST_F(Stream, ResetClientIsReportedAndItsIdReused) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(false, 3));
    Player(3).Reset();
    ExpectConsole(LeftLine(3));
    ASSERT_NO_FATAL_FAILURE(Join(3));
    Player(4).ShutdownWrite();
    ExpectConsole(LeftLine(4));
    ASSERT_NO_FATAL_FAILURE(Join(4));
    ASSERT_TRUE(Player(2).SendFrame(7, 0, "all"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{7, 0, "all"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{7, 0, "all"}));
}

TEST_F(Stream, ClientClosingRightAfterAFrameHasItRelayedFirst) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(Player(3).SendFrame(7, 0, "last words"));
    Player(3).Close();
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{7, 0, "last words"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{7, 0, "last words"}));
    ExpectConsole(ShownMessage(7, 3, "last words", 10) + LeftLine(3));
}

}  // namespace
