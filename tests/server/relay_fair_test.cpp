// The order of the dispatch walk: from the lowest id by default, and in fair turns from the
// player after the one whose message ended the last pass.

#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs `passes` passes and returns, for each, the sender of the message it showed (0: none).
std::vector<int> ShownSenders(RelayHarness& relay, int passes, std::string& console) {
    std::vector<int> senders;
    for (int pass = 0; pass < passes; ++pass) {
        relay.RunPass();
        const std::string shown = relay.NewConsole();
        console += shown;
        const std::size_t at = shown.find("From \t= ");
        senders.push_back(at == std::string::npos ? 0 : std::stoi(shown.substr(at + 8)));
    }
    return senders;
}

// Players 2 to `LastPlayer`, with the messages the server gets shown on its console.
template <PlayerId LastPlayer>
class Broadcasters : public JoinedPlayers<LastPlayer> {
protected:
    Broadcasters() : JoinedPlayers<LastPlayer>(true) {}

    // Each player holds `count` broadcasts at the server.
    void QueueBroadcasts(int count) {
        for (PlayerId id = 2; id <= LastPlayer; ++id) {
            for (int index = 0; index < count; ++index) {
                const std::string value = std::to_string(id) + "#" + std::to_string(index);
                ASSERT_TRUE(this->relay.Deliver(this->Player(id), id, 7, BROADCAST_ID, value));
            }
        }
    }
};

using ThreeBroadcasters = Broadcasters<4>;
using FourBroadcasters = Broadcasters<5>;

TEST_F(ThreeBroadcasters, ByDefaultTheLowestIdIsRelayedWhileItHasBroadcasts) {
    ASSERT_NO_FATAL_FAILURE(QueueBroadcasts(3));
    std::string console;
    EXPECT_EQ(ShownSenders(relay, 7, console), (std::vector<int>{2, 2, 2, 3, 3, 3, 4}));
}

TEST_F(ThreeBroadcasters, FairTurnsRelayEachInTurnAndWrapAroundPastTheHighestId) {
    relay.state.options.fairTurns = true;
    ASSERT_NO_FATAL_FAILURE(QueueBroadcasts(3));
    std::string console;
    EXPECT_EQ(ShownSenders(relay, 10, console), (std::vector<int>{2, 3, 4, 2, 3, 4, 2, 3, 4, 0}));
    // Every player got every broadcast of the others, in order.
    for (PlayerId receiver = 2; receiver <= 4; ++receiver) {
        for (int index = 0; index < 3; ++index) {
            for (PlayerId sender = 2; sender <= 4; ++sender) {
                if (sender != receiver) {
                    EXPECT_EQ(Player(receiver).ReadFrame(),
                              (Frame{7, 0, std::to_string(sender) + "#" + std::to_string(index)}));
                }
            }
        }
    }
}

TEST_F(FourBroadcasters, FairTurnsGoOnAfterThePlayerWhoEndedThePassLeaves) {
    relay.state.options.fairTurns = true;
    ASSERT_NO_FATAL_FAILURE(QueueBroadcasts(2));
    std::string console;
    EXPECT_EQ(ShownSenders(relay, 2, console), (std::vector<int>{2, 3}));
    Player(3).Reset();
    EXPECT_EQ(ShownSenders(relay, 6, console), (std::vector<int>{4, 5, 2, 4, 5, 0}));
    EXPECT_NE(console.find("Player 3 left.\n"), std::string::npos) << console;
}

// Directed messages never end a pass: one pass takes exactly one from each player, in either
// order.
class DirectedInBothOrders : public JoinedPlayers<4>, public ::testing::WithParamInterface<bool> {};

TEST_P(DirectedInBothOrders, OnePassTakesOneMessageFromEachPlayer) {
    relay.state.options.fairTurns = GetParam();
    // A broadcast first, so that a fair walk starts in the middle.
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 1, BROADCAST_ID, "start"));
    relay.RunPass();
    relay.NewConsole();
    for (PlayerId id = 2; id <= 4; ++id) {
        for (int index = 0; index < 2; ++index) {
            const auto target = static_cast<PlayerId>(id == 4 ? 2 : id + 1);
            ASSERT_TRUE(relay.Deliver(Player(id), id, 5, target, std::to_string(index)));
        }
    }
    for (int pass = 0; pass < 2; ++pass) {
        relay.RunPass();
        for (PlayerId id = 2; id <= 4; ++id) {
            EXPECT_EQ(relay.Endpoint(id)->BufferedBytes(), pass == 0 ? 5u : 0u)
                << "player " << id << " after pass " << pass;
        }
    }
    EXPECT_EQ(relay.NewConsole(), "");
}

INSTANTIATE_TEST_SUITE_P(Orders, DirectedInBothOrders, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Fair" : "Default";
                         });

}  // namespace
