// Passes of several rounds: each round takes at most one message from each player, no message
// ends the pass early, and each sender's messages reach each receiver in the order sent.

#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Rounds : public JoinedPlayers<5> {
protected:
    Rounds() : JoinedPlayers<5>(true) {}

    void SetUp() override {
        JoinedPlayers<5>::SetUp();
        relay.state.options.messagesPerPass = 3;
    }

    void Queue(PlayerId from, PlayerId to, int count) {
        for (int index = 0; index < count; ++index) {
            ASSERT_TRUE(relay.Deliver(Player(from), from, 7, to,
                                      std::to_string(from) + "#" + std::to_string(index)));
        }
    }

    std::size_t Buffered(PlayerId id) { return relay.Endpoint(id)->BufferedBytes(); }
};

TEST_F(Rounds, APassTakesUpToOneMessagePerRoundFromEachPlayerAndBroadcastsDoNotEndIt) {
    for (PlayerId id = 2; id <= 4; ++id) {
        ASSERT_NO_FATAL_FAILURE(Queue(id, BROADCAST_ID, 4));
    }
    relay.RunPass();
    // Three rounds of three broadcasters, each shown; the fourth of each waits.
    const std::string console = relay.NewConsole();
    std::size_t shown = 0;
    for (std::size_t at = console.find("Received a message."); at != std::string::npos;
         at = console.find("Received a message.", at + 1)) {
        ++shown;
    }
    EXPECT_EQ(shown, 9u) << console;
    for (PlayerId id = 2; id <= 4; ++id) {
        EXPECT_EQ(Buffered(id), 7u) << "player " << id;
    }
    relay.RunPass();
    for (PlayerId id = 2; id <= 4; ++id) {
        EXPECT_EQ(Buffered(id), 0u) << "player " << id;
    }
    // Player 5 got every broadcast, each sender's in the order sent, round by round in id order.
    for (int index = 0; index < 4; ++index) {
        for (PlayerId from = 2; from <= 4; ++from) {
            EXPECT_EQ(Player(5).ReadFrame(),
                      (Frame{7, 0, std::to_string(from) + "#" + std::to_string(index)}));
        }
    }
    EXPECT_TRUE(Player(5).NothingArrives(100));
}

TEST_F(Rounds, ALeaveMessageInARoundRemovesThePlayerAndNothingAfterItIsRelayed) {
    ASSERT_NO_FATAL_FAILURE(Queue(2, 5, 1));
    ASSERT_TRUE(relay.Deliver(Player(2), 2, MSG_LEAVE, SERVER_ID, ""));
    ASSERT_NO_FATAL_FAILURE(Queue(2, 5, 1));
    ASSERT_NO_FATAL_FAILURE(Queue(3, 5, 3));
    relay.RunPass();
    EXPECT_NE(relay.NewConsole().find("Player 2 left.\n"), std::string::npos);
    EXPECT_EQ(relay.Endpoint(2), nullptr);
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "2#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#1"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#2"}));
    EXPECT_TRUE(Player(5).NothingArrives(100));
}

TEST_F(Rounds, FairRoundsStartAfterThePlayerWhoseMessageWasTakenLast) {
    relay.state.options.fairTurns = true;
    ASSERT_NO_FATAL_FAILURE(Queue(3, 5, 1));
    relay.RunPass();
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#0"}));
    // Player 3 was the last sender, so the rounds start at player 4 and wrap round to it.
    for (PlayerId id = 2; id <= 4; ++id) {
        ASSERT_NO_FATAL_FAILURE(Queue(id, 5, 1));
    }
    relay.RunPass();
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "4#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "2#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#0"}));
    // Now player 3 was last again; without fair turns the rounds would start at player 2.
    relay.state.options.fairTurns = false;
    for (PlayerId id = 4; id >= 2; --id) {
        ASSERT_NO_FATAL_FAILURE(Queue(id, 5, 1));
    }
    relay.RunPass();
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "2#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "3#0"}));
    EXPECT_EQ(Player(5).ReadFrame(), (Frame{7, 5, "4#0"}));
}

}  // namespace
