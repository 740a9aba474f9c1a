// Admission limits and the counts the operator's console reports, in-process.

#include "server/OperatorCommands.h"
#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr const char* FULL =
    "Refused a connection from 127.0.0.1: the server is full (--max-players 2).\n";
constexpr const char* SAME_ADDRESS =
    "Refused a connection from 127.0.0.1: too many players from that address "
    "(--max-per-address 2).\n";

// Connects a client and runs passes until the server has refused it.
bool Refused(RelayHarness& relay, const std::string& line) {
    const std::size_t before = relay.ConsoleCount(line);
    LoopbackClient client(relay.Port());
    return client.Connected() &&
           relay.RunPassesUntil([&] { return relay.ConsoleCount(line) > before; }) &&
           client.ClosedByPeer();
}

class TwoPlayers : public JoinedPlayers<3> {
protected:
    // The registry's record of player `id`, which must be there.
    const PlayerRecord& Record(PlayerId id) { return relay.state.registry.find(id)->second; }
};

TEST_F(TwoPlayers, MaxPlayersRefusesUntilOneLeavesAndEveryAdmissionIsCounted) {
    relay.state.options.maxPlayers = 2;
    ASSERT_TRUE(Refused(relay, FULL));
    const ServerStatistics& counts = relay.state.statistics;
    EXPECT_EQ(counts.admitted, 2u);
    EXPECT_EQ(counts.refused, 1u);
    EXPECT_EQ(counts.refusedBy[static_cast<int>(Refusal::Full)], 1u);
    EXPECT_EQ(counts.refusedBy[static_cast<int>(Refusal::TooManyFromAddress)], 0u);
    ASSERT_EQ(relay.state.registry.size(), 2u);
    EXPECT_EQ(Record(2).address, "127.0.0.1");

    Player(2).Close();
    ASSERT_TRUE(relay.RunPassesUntil([&] { return relay.Endpoint(2) == nullptr; }));
    EXPECT_EQ(relay.state.registry.count(2), 0u) << "a departed player keeps no record";
    EXPECT_EQ(counts.removedForFallingBehind, 0u);
    PlayerId id = 0;
    const auto newcomer = relay.Join(id);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(counts.admitted, 3u);
    ASSERT_EQ(relay.state.registry.count(2), 1u);
    EXPECT_EQ(Record(2).messagesIn, 0u) << "a reused id starts a fresh record";
}

TEST_F(TwoPlayers, MaxPerAddressCountsThePlayersOfTheAddress) {
    relay.state.options.maxPerAddress = 2;
    ASSERT_TRUE(Refused(relay, SAME_ADDRESS));
    EXPECT_EQ(relay.state.statistics.refused, 1u);
    const auto& refusedBy = relay.state.statistics.refusedBy;
    EXPECT_EQ(refusedBy[static_cast<int>(Refusal::TooManyFromAddress)], 1u);
    EXPECT_EQ(refusedBy[static_cast<int>(Refusal::Full)], 0u);
    EXPECT_EQ(relay.state.registry.size(), 2u);
}

// A leave message, an end without one and the operator's kick are each counted apart.
TEST_F(TwoPlayers, RemovalsAreCountedByCause) {
    PlayerId id = 0;
    auto third = relay.Join(id);
    ASSERT_EQ(id, 4);
    ASSERT_TRUE(Player(2).SendFrame(MSG_LEAVE, SERVER_ID, ""));
    Player(3).Reset();
    ASSERT_TRUE(relay.RunPassesUntil(
        [&] { return relay.Endpoint(2) == nullptr && relay.Endpoint(3) == nullptr; }));
    std::string answer;
    CommandAnswer toText(answer);
    RunOperatorCommand(relay.state, "kick 4", toText);
    EXPECT_EQ(answer, "Player 4 left.\n");
    const auto& removedBy = relay.state.statistics.removedBy;
    EXPECT_EQ(removedBy[static_cast<int>(Departure::Left)], 1u);
    EXPECT_EQ(removedBy[static_cast<int>(Departure::Gone)], 1u);
    EXPECT_EQ(removedBy[static_cast<int>(Departure::Kicked)], 1u);
    EXPECT_EQ(removedBy[static_cast<int>(Departure::FellBehind)], 0u);
}

TEST_F(TwoPlayers, MessagesInAndRelayedAreCountedPerPlayer) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 1, 3, "abc"));
    relay.RunPass();
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 2, BROADCAST_ID, "z"));
    relay.RunPass();
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 3, 99, "nobody"));
    relay.RunPass();
    const ServerStatistics& counts = relay.state.statistics;
    EXPECT_EQ(counts.messagesIn, 3u);
    // The frame to 3 (7 bytes) and the broadcast to 2 (5 bytes); nobody holds id 99.
    EXPECT_EQ(counts.messagesRelayed, 2u);
    EXPECT_EQ(counts.bytesRelayed, 12u);
    EXPECT_EQ(Record(2).messagesIn, 1u);
    EXPECT_EQ(Record(2).messagesOut, 1u);
    EXPECT_EQ(Record(3).messagesIn, 2u);
    EXPECT_EQ(Record(3).messagesOut, 1u);
}

}  // namespace
