// A player that stops reading while another sends to it: its kept output is bounded.

#include "testing/PlatformTraits.h"
#include "tests/server/RelayBounds.h"

#include <algorithm>

namespace {

TEST_F(RelayBounds, PlayerThatNeverReadsGetsWholeFramesAndIsDroppedPastTheOutputLimit) {
    // Player 2 stops reading, player 3 sends it numbered frames, players 4 and 5 talk.
    Player(2).SetReceiveBufferSize(4096);
    const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
    std::uint32_t sent = 0;
    std::size_t mostKept = 0;
    for (std::uint32_t pass = 1; relay.Endpoint(2) != nullptr; ++pass) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << "still registered after " << sent << " frames";
        // A few frames ahead of the server, so that every pass relays one and the client's
        // blocking writes never wait long.
        if (relay.Endpoint(3)->BufferedBytes() < 4 * MAX_FRAME_SIZE) {
            for (int i = 0; i < 8; ++i) {
                ASSERT_TRUE(Player(3).SendFrame(1, 2, NumberedValue(sent++)));
            }
        }
        // Kept output is looked at after every pass, the one ExpectRelayBetween runs included.
        const auto noteKept = [&] {
            if (NetSocket* slow = relay.Endpoint(2)) {
                mostKept = std::max(mostKept, slow->KeptOutput());
            }
        };
        relay.RunPass();
        noteKept();
        if (pass % 1000 == 0) {
            ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(4, 5, pass));
            noteKept();
        }
    }
    EXPECT_EQ(relay.NewConsole(), "Player 2 left.\n");
    EXPECT_EQ(relay.state.statistics.removedForFallingBehind, 1u);
    // However its connection ended, it is counted as fallen behind only.
    const auto& removedBy = relay.state.statistics.removedBy;
    EXPECT_EQ(removedBy[static_cast<int>(Departure::FellBehind)], 1u);
    EXPECT_EQ(removedBy[static_cast<int>(Departure::Gone)], 0u);
    // It was dropped because it fell behind by the limit, not sooner.
    EXPECT_GT(mostKept, KEPT_OUTPUT_LIMIT - MAX_FRAME_SIZE);
    EXPECT_LE(mostKept, KEPT_OUTPUT_LIMIT);
    ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(4, 5, 0));
    if (!ReceiveWindowWidens()) {
        GTEST_SKIP() << "what the player reads afterwards: its window cannot be widened here";
    }

    // What it reads now is whole numbered frames in order; the stream may end inside a frame
    // only where the server gave up on it. A window wider than a segment lets the rest through
    // at once instead of by zero-window probes.
    Player(2).SetReceiveBufferSize(4 << 20);
    std::uint32_t received = 0;
    while (const auto frame = Player(2).ReadFrame()) {
        ASSERT_EQ(*frame, (Frame{1, 2, NumberedValue(received)})) << "frame " << received;
        ++received;
    }
    EXPECT_TRUE(Player(2).ClosedByPeer());
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, sent);
    EXPECT_EQ(relay.NewConsole(), "");
}

}  // namespace
