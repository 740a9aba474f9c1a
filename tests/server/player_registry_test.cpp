// The registry as the one owner of what is known about each player: its record and the activity
// its verbs note.

#include "server/Players.h"
#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(PlayerRegistry, EachRecordHoldsItsOwnPlayersAddressAndCountsAndARemovedOneIsForgotten) {
    PlayerRegistry registry;
    ASSERT_TRUE(registry.Add(2, std::make_unique<NetSocket>(), "10.0.0.1"));
    ASSERT_TRUE(registry.Add(3, std::make_unique<NetSocket>(), "10.0.0.2"));
    ASSERT_TRUE(registry.Add(4, std::make_unique<NetSocket>(), "10.0.0.1"));
    EXPECT_FALSE(registry.Add(4, std::make_unique<NetSocket>(), "10.0.0.9"));
    EXPECT_EQ(registry.find(4)->second.address, "10.0.0.1") << "a refused Add changed the record";
    EXPECT_EQ(registry.PlayersFrom("10.0.0.1"), 2u);
    EXPECT_EQ(registry.PlayersFrom("10.0.0.2"), 1u);
    EXPECT_EQ(registry.PlayersFrom("10.0.0.9"), 0u);

    registry.CountMessageIn(registry.find(3));
    registry.CountMessageIn(registry.find(3));
    registry.CountMessageOut(registry.find(4));
    EXPECT_EQ(registry.find(2)->second.messagesIn, 0u);
    EXPECT_EQ(registry.find(2)->second.messagesOut, 0u);
    EXPECT_EQ(registry.find(3)->second.messagesIn, 2u);
    EXPECT_EQ(registry.find(3)->second.messagesOut, 0u);
    EXPECT_EQ(registry.find(4)->second.messagesIn, 0u);
    EXPECT_EQ(registry.find(4)->second.messagesOut, 1u);

    // The id of a removed player comes back with a fresh record, counted under its new address.
    const auto before = registry.find(3)->second.admittedAt;
    registry.Remove(registry.find(3));
    EXPECT_EQ(registry.PlayersFrom("10.0.0.2"), 0u);
    ASSERT_TRUE(registry.Add(3, std::make_unique<NetSocket>(), "10.0.0.1"));
    EXPECT_EQ(registry.find(3)->second.messagesIn, 0u);
    EXPECT_GE(registry.find(3)->second.admittedAt, before);
    EXPECT_EQ(registry.PlayersFrom("10.0.0.1"), 3u);
    registry.clear();
    EXPECT_EQ(registry.PlayersFrom("10.0.0.1"), 0u);
}

TEST(PlayerRegistry, FindGivesEachPlayersEntryByIdAndNoneForAnIdNotInUse) {
    PlayerRegistry registry;
    for (PlayerId id = 2; id <= 9; ++id) {
        ASSERT_TRUE(
            registry.Add(id, std::make_unique<NetSocket>(), "10.0.0." + std::to_string(id)));
    }
    registry.Remove(registry.find(5));
    registry.Remove(registry.find(9));
    for (const PlayerId id :
         {PlayerId{0}, PlayerId{1}, PlayerId{5}, PlayerId{9}, PlayerId{10}, PlayerId{65535}}) {
        EXPECT_EQ(registry.find(id), registry.end()) << "id " << id;
        EXPECT_EQ(registry.count(id), 0u) << "id " << id;
    }
    for (const PlayerId id : {PlayerId{2}, PlayerId{4}, PlayerId{6}, PlayerId{8}}) {
        ASSERT_NE(registry.find(id), registry.end()) << "id " << id;
        EXPECT_EQ(registry.find(id)->second.address, "10.0.0." + std::to_string(id));
    }
    // An id given again is found with its new record, and none is found after clear.
    ASSERT_TRUE(registry.Add(9, std::make_unique<NetSocket>(), "10.0.0.90"));
    ASSERT_NE(registry.find(9), registry.end());
    EXPECT_EQ(registry.find(9)->second.address, "10.0.0.90");
    registry.clear();
    EXPECT_EQ(registry.find(2), registry.end());
    EXPECT_EQ(registry.find(9), registry.end());
    ASSERT_TRUE(registry.Add(2, std::make_unique<NetSocket>(), "10.0.0.20"));
    EXPECT_EQ(registry.find(2)->second.address, "10.0.0.20");
}

// Players 2 and 3 over loopback.
class RegistryActivity : public JoinedPlayers<3> {
protected:
    PlayerRegistry& Registry() { return relay.state.registry; }
    const PlayerActivity& Activity() { return relay.state.registry.Activity(); }
    // Adds one frame from the server to player `id`'s output.
    int SendFrameTo(PlayerId id, const std::string& value) {
        const std::vector<std::uint8_t> frame = EncodeTestFrame(5, id, value);
        return Registry().KeepOutput(Registry().find(id), frame.data(), frame.size());
    }
};

TEST_F(RegistryActivity, OutputKeptByKeepOutputIsNotedUntilFlushedAndForgottenWithItsPlayer) {
    ASSERT_EQ(SendFrameTo(3, "kept"), 0);
    EXPECT_TRUE(Activity().AnyKeptOutput());
    EXPECT_EQ(Activity().NextWithKeptOutput(0), PlayerId{3});
    EXPECT_EQ(Activity().NextWithKeptOutput(4), std::nullopt);

    Registry().FlushKeptOutput();
    EXPECT_FALSE(Activity().AnyKeptOutput());
    EXPECT_EQ(Player(3).ReadFrame(), (Frame{5, 3, "kept"}));
    EXPECT_EQ(relay.Endpoint(3)->KeptOutput(), 0u);

    ASSERT_EQ(SendFrameTo(2, "never written"), 0);
    ASSERT_EQ(SendFrameTo(3, "written"), 0);
    RemovePlayer(relay.state, Registry().find(2), Departure::Kicked);
    EXPECT_EQ(Activity().NextWithKeptOutput(0), PlayerId{3}) << "the removed player is still kept";
    Registry().FlushKeptOutput();
    EXPECT_FALSE(Activity().AnyKeptOutput());
    EXPECT_EQ(Player(3).ReadFrame(), (Frame{5, 3, "written"}));
}

TEST_F(RegistryActivity, AWholeMessageIsNotedOnlyOnceItsLastByteIsInAndForgottenWithItsPlayer) {
    const std::vector<std::uint8_t> frame = EncodeTestFrame(1, 3, "split");
    const std::vector<std::uint8_t> head(frame.begin(), frame.end() - 1);
    ASSERT_TRUE(Player(2).SendBytes(head));
    ASSERT_TRUE(relay.WaitForBuffered(2, head.size()));
    EXPECT_EQ(Activity().NextWithWholeMessage(0), std::nullopt);
    EXPECT_FALSE(Activity().WorkLeft());

    ASSERT_TRUE(Player(2).SendBytes({frame.back()}));
    ASSERT_TRUE(relay.WaitForBuffered(2, frame.size()));
    EXPECT_EQ(Activity().NextWithWholeMessage(0), PlayerId{2});
    EXPECT_TRUE(Activity().WorkLeft());

    RemovePlayer(relay.state, Registry().find(2), Departure::Kicked);
    EXPECT_EQ(Activity().NextWithWholeMessage(0), std::nullopt);
    EXPECT_FALSE(Activity().WorkLeft());
}

}  // namespace
