// Output a player's socket cannot take at once: kept in order behind what went before, written
// on later passes, bounded, and settled when the player goes.

#include "tests/server/RelayBounds.h"

#include "testing/Deadline.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Players 2 to 5; the tests make one of them stop reading while the others relay numbered
// frames to it.
class KeptOutput : public RelayBounds {
protected:
    // Every other player relays one numbered frame to `slow` per pass, in id order, until the
    // server keeps at least `bytes` of output for it beyond what the sockets hold.
    void FillUntilKept(PlayerId slow, std::size_t bytes) {
        Player(slow).SetReceiveBufferSize(4096);
        const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
        while (relay.Endpoint(slow)->KeptOutput() < bytes) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "nothing kept after " << sent << " frames";
            ASSERT_NO_FATAL_FAILURE(RelayOneFrameEach(slow));
        }
    }

    void RelayOneFrameEach(PlayerId to) {
        for (PlayerId from = 2; from <= 5; ++from) {
            if (from != to) {
                ASSERT_TRUE(relay.Deliver(Player(from), from, 1, to, NumberedValue(sent++)));
            }
        }
        relay.RunPass();
    }

    // The slow player reads again, with a window wide enough for the rest to come at once, on a
    // thread of its own, while passes run, each after a call of `pass`; true when it read the
    // frames `read` to `sent + more - 1` in order, the last `more` of them relayed by `pass`.
    // The reader waits for every one of them, so the passes run until it has them all however
    // fast either side runs.
    bool ReadAllWhile(PlayerId slow, std::uint32_t more, const std::function<void()>& pass) {
        Player(slow).SetReceiveBufferSize(4 << 20);
        const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
        std::atomic<bool> done{false};
        std::optional<std::vector<std::uint8_t>> bytes;
        const std::size_t expected = (sent + more - read) * MAX_FRAME_SIZE;
        std::thread reader([&] {
            bytes = Player(slow).ReadExactly(expected, RemainingMs(deadline));
            done = true;
        });
        while (!done && std::chrono::steady_clock::now() < deadline) {
            pass();
            relay.RunPass();
        }
        reader.join();
        if (!bytes) {
            ADD_FAILURE() << "the slow player read fewer than " << expected << " bytes";
            return false;
        }
        for (std::size_t at = 0; at < bytes->size(); at += MAX_FRAME_SIZE, ++read) {
            const std::vector<std::uint8_t> want = EncodeTestFrame(1, slow, NumberedValue(read));
            if (!std::equal(want.begin(), want.end(),
                            bytes->begin() + static_cast<std::ptrdiff_t>(at))) {
                ADD_FAILURE() << "frame " << read << " is not where it belongs";
                return false;
            }
        }
        return true;
    }

    std::uint32_t sent = 0;
    std::uint32_t read = 0;
};

TEST_F(KeptOutput, KeptOutputIsWrittenByLaterPassesThatBringNothingNew) {
    ASSERT_NO_FATAL_FAILURE(FillUntilKept(2, 16 * 1024));
    EXPECT_TRUE(ReadAllWhile(2, 0, [] {}));
    EXPECT_EQ(relay.Endpoint(2)->KeptOutput(), 0u);
    EXPECT_TRUE(Player(2).NothingArrives(100));
    EXPECT_EQ(relay.NewConsole(), "");
}

TEST_F(KeptOutput, NewFramesWaitBehindKeptOutputAcrossPasses) {
    ASSERT_NO_FATAL_FAILURE(FillUntilKept(3, 16 * 1024));
    // New frames keep arriving while the reader empties the sockets and the kept output; each
    // belongs behind everything sent before it. The first of them join the kept output.
    constexpr int MORE_PASSES = 40;
    int morePasses = MORE_PASSES;
    EXPECT_TRUE(ReadAllWhile(3, MORE_PASSES * 3, [&] {
        if (morePasses > 0) {
            --morePasses;
            RelayOneFrameEach(3);
        }
    }));
    EXPECT_EQ(read, sent);
    ExpectNothingBeforeMarker(2, 3);
}

// A player that crosses the output bound while frames are relayed to it is removed when the walk
// reaches it in the same pass, and the players after it are served as usual.
TEST_F(KeptOutput, PlayerPushedPastTheBoundWithinAPassIsRemovedInThatPass) {
    Player(4).SetReceiveBufferSize(4096);
    NetSocket& slow = *relay.Endpoint(4);
    // 300 bytes short of the bound, written straight to its endpoint to save thousands of
    // passes: the first 255-byte value still fits, the second does not.
    const std::vector<std::uint8_t> filler(64 * 1024, 'f');
    const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
    while (slow.KeptOutput() < KEPT_OUTPUT_LIMIT - 300) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        const std::size_t room = KEPT_OUTPUT_LIMIT - 300 - slow.KeptOutput();
        const std::size_t length = std::min(room, filler.size());
        ASSERT_EQ(slow.Send(filler.data(), static_cast<int>(length), 0, nullptr), 0);
    }
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 5, 4, NumberedValue(0)));
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 6, 4, NumberedValue(1)));
    ASSERT_TRUE(relay.Deliver(Player(5), 5, 7, 2, "after"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 4 left.\n");
    EXPECT_EQ(relay.Endpoint(4), nullptr);
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 2, "after"}));
    ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(3, 5, 0));
}

// Frames relayed to a player earlier in the pass in which it leaves still reach it; nothing is
// written to it afterwards and the others get theirs.
TEST_F(KeptOutput, PlayerLeavingAfterFramesForItInTheSamePassGetsThemFirst) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 5, 4, "first"));
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 6, 4, "second"));
    ASSERT_TRUE(relay.Deliver(Player(4), 4, MSG_LEAVE, 2, "bye"));
    ASSERT_TRUE(relay.Deliver(Player(5), 5, 7, 2, "after"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 4 left.\n");
    EXPECT_EQ(Player(4).ReadFrame(), (Frame{5, 4, "first"}));
    EXPECT_EQ(Player(4).ReadFrame(), (Frame{6, 4, "second"}));
    EXPECT_TRUE(Player(4).ClosedByPeer());
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 2, "after"}));
    ExpectNothingBeforeMarker(3, 2);
}

// A client admitted in the pass that relays a frame to it reads its greetings first.
TEST_F(KeptOutput, GreetingsComeBeforeAFrameRelayedInTheAdmittingPass) {
    LoopbackClient newcomer(relay.Port());
    ASSERT_TRUE(newcomer.Connected());
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 9, 6, "welcome"));
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 8, BROADCAST_ID, "all"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "New connection from 127.0.0.1, assigned to player ID 6.\n");
    EXPECT_EQ(newcomer.ReadFrame(), (Frame{MSG_WELCOME, 6, "6"}));
    const auto clock = newcomer.ReadFrame();
    ASSERT_TRUE(clock.has_value());
    EXPECT_EQ(clock->target, 6);
    EXPECT_EQ(newcomer.ReadFrame(), (Frame{9, 6, "welcome"}));
    EXPECT_EQ(newcomer.ReadFrame(), (Frame{8, BROADCAST_ID, "all"}));
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{8, BROADCAST_ID, "all"}));
}

}  // namespace
