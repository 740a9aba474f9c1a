// A pass visits only the players that have something to do; these check that a player the
// passes did not look at is still handled in the pass where it counts.

#include "server/PlayerIdSet.h"
#include "tests/server/RelayBounds.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int IDLE_PASSES = 5;

// Players 2 to 5; nothing buffered anywhere before each test.
class RelayActivity : public RelayBounds {
protected:
    void RunIdlePasses() {
        for (int pass = 0; pass < IDLE_PASSES; ++pass) {
            relay.RunPass();
        }
        ASSERT_EQ(relay.NewConsole(), "");
    }
};

TEST_F(RelayActivity, AQuietPlayerThatSendsIsHandledInTheNextPass) {
    RunIdlePasses();
    ASSERT_TRUE(Player(4).SendFrame(7, 2, "woke"));
    ASSERT_TRUE(relay.WaitForReported(4));
    relay.RunPass();
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 2, "woke"}));
    EXPECT_EQ(relay.Endpoint(4)->BufferedBytes(), 0u);
    ExpectNothingBeforeMarker(3, 2);
}

TEST_F(RelayActivity, AQuietPlayerThatClosesOrResetsLeavesInTheNextPass) {
    RunIdlePasses();
    Player(5).ShutdownWrite();
    ASSERT_TRUE(relay.WaitForReported(5));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 5 left.\n");

    RunIdlePasses();
    Player(3).Reset();
    ASSERT_TRUE(relay.WaitForReported(3));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 3 left.\n");
    EXPECT_EQ(relay.Endpoint(3), nullptr);
    EXPECT_EQ(relay.Endpoint(5), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(2, 4, 0));
}

TEST_F(RelayActivity, BufferedMessagesWithoutNewBytesAreServedOnePerPass) {
    std::vector<std::uint8_t> three;
    for (const char* value : {"one", "two", "six"}) {
        const std::vector<std::uint8_t> frame = EncodeTestFrame(1, 2, value);
        three.insert(three.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(Player(3).SendBytes(three));
    ASSERT_TRUE(relay.WaitForReported(3));
    for (const char* value : {"one", "two", "six"}) {
        relay.RunPass();
        EXPECT_EQ(Player(2).ReadFrame(), (Frame{1, 2, value}));
        EXPECT_TRUE(Player(2).NothingArrives(50)) << "after " << value;
    }
    EXPECT_EQ(relay.Endpoint(3)->BufferedBytes(), 0u);
}

TEST_F(RelayActivity, APlayerWhoseSendFailsAfterTheSenderLeavesInTheSamePass) {
    // Player 4 stops reading while player 3 sends to it; the send that passes the output limit
    // fails during the walk, after player 3 and before player 4 is reached.
    Player(4).SetReceiveBufferSize(4096);
    const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
    std::uint32_t sent = 0;
    while (relay.Endpoint(4) != nullptr) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        if (relay.Endpoint(3)->BufferedBytes() < 4 * MAX_FRAME_SIZE) {
            for (int i = 0; i < 8; ++i) {
                ASSERT_TRUE(Player(3).SendFrame(1, 4, NumberedValue(sent++)));
            }
        }
        relay.RunPass();
        NetSocket* slow = relay.Endpoint(4);
        ASSERT_TRUE(slow == nullptr || !slow->HasFailed()) << "kept after its send failed";
    }
    EXPECT_EQ(relay.NewConsole(), "Player 4 left.\n");
    ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(2, 5, 0));
}

TEST_F(RelayActivity, AReusedIdIsWatchedForItsNewPlayerOnly) {
    Player(3).Close();
    ASSERT_TRUE(relay.RunPassesUntil([&] { return relay.Endpoint(3) == nullptr; }));
    PlayerId id = 0;
    auto again = relay.Join(id);
    ASSERT_TRUE(again);
    ASSERT_EQ(id, 3);
    relay.NewConsole();
    RunIdlePasses();
    ASSERT_TRUE(again->SendFrame(9, 5, "back"));
    ASSERT_TRUE(relay.WaitForReported(3));
    relay.RunPass();
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{9, 5, "back"}));

    again->Reset();
    ASSERT_TRUE(relay.WaitForReported(3));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 3 left.\n");
    ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(2, 5, 1));
}

TEST(PlayerIdSet, WalksItsMembersInAscendingOrderAcrossWordsAndSummaries) {
    PlayerIdSet set;
    EXPECT_TRUE(set.Empty());
    EXPECT_EQ(set.NextFrom(0), std::nullopt);
    const std::vector<PlayerId> members = {0, 2, 63, 64, 4095, 4096, 40000, 65535};
    for (const PlayerId id : members) {
        set.Insert(id);
    }
    std::vector<PlayerId> walked;
    for (auto id = set.NextFrom(0); id; id = set.NextFrom(*id + 1u)) {
        walked.push_back(*id);
    }
    EXPECT_EQ(walked, members);
    EXPECT_EQ(set.NextFrom(65), PlayerId{4095});
    EXPECT_EQ(set.NextFrom(65536), std::nullopt);

    set.Erase(4095);
    set.Erase(4096);
    set.Erase(4096);
    EXPECT_FALSE(set.Contains(4096));
    EXPECT_TRUE(set.Contains(64));
    EXPECT_EQ(set.NextFrom(65), PlayerId{40000});
    for (const PlayerId id : members) {
        set.Erase(id);
    }
    EXPECT_TRUE(set.Empty());
    EXPECT_EQ(set.NextFrom(0), std::nullopt);

    // Inserting a member again or erasing a non-member changes nothing.
    set.Insert(7);
    set.Insert(7);
    set.Erase(8);
    set.Erase(8);
    EXPECT_FALSE(set.Empty());
    EXPECT_EQ(set.NextFrom(0), PlayerId{7});
    set.Erase(7);
    EXPECT_TRUE(set.Empty());
    EXPECT_EQ(set.NextFrom(0), std::nullopt);
}

}  // namespace
