// Admission of players, their departure and the choice of ids.

#include "server/Players.h"
#include "sync/Clock.h"
#include "testing/PlatformTraits.h"
#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

std::vector<PlayerId> Ids(const PlayerRegistry& registry) {
    std::vector<PlayerId> ids;
    for (const auto& entry : registry) {
        ids.push_back(entry.first);
    }
    return ids;
}

// Waits until the server's end of the player's connection shows that the client has gone.
bool WaitUntilGone(RelayHarness& relay, PlayerId id) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        NetSocket* endpoint = relay.Endpoint(id);
        if (endpoint == nullptr || endpoint->IsDisconnected()) {
            return endpoint != nullptr;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
}

TEST(RelayAdmission, FirstPlayersGetTwoAndThreeAndAFreedIdGoesToTheNextClient) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    PlayerId first = 0;
    PlayerId second = 0;
    auto firstClient = relay.Join(first);
    const auto secondClient = relay.Join(second);
    ASSERT_TRUE(firstClient);
    ASSERT_TRUE(secondClient);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 3);
    EXPECT_EQ(relay.NewConsole(),
              "New connection from 127.0.0.1, assigned to player ID 2.\n"
              "New connection from 127.0.0.1, assigned to player ID 3.\n");

    firstClient->Close();
    ASSERT_TRUE(relay.RunPassesUntil([&] { return relay.Endpoint(2) == nullptr; }));
    EXPECT_EQ(relay.NewConsole(), "Player 2 left.\n");

    PlayerId third = 0;
    const auto thirdClient = relay.Join(third);
    ASSERT_TRUE(thirdClient);
    EXPECT_EQ(third, 2);
    EXPECT_EQ(Ids(relay.state.registry), (std::vector<PlayerId>{2, 3}));
}

TEST(RelayAdmission, ClientGoneBeforeItsAdmissionIsListedAndRemovedOnce) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        const std::size_t admittedBefore = relay.ConsoleCount("assigned to player ID 2.\n");
        const std::size_t leftBefore = relay.ConsoleCount("Player 2 left.\n");
        {
            LoopbackClient client(relay.Port());
            ASSERT_TRUE(client.Connected());
            reset ? client.Reset() : client.Close();
        }
        if (reset && !AcceptTakesResetConnections()) {
            // The platform drops the connection before the server sees it: no player at all.
            for (int pass = 0; pass < 5; ++pass) {
                relay.RunPass();
            }
            EXPECT_EQ(relay.ConsoleCount("assigned to player ID 2.\n"), admittedBefore);
            EXPECT_TRUE(relay.state.registry.empty());
            continue;
        }
        ASSERT_TRUE(relay.RunPassesUntil(
            [&] { return relay.ConsoleCount("Player 2 left.\n") > leftBefore; }));
        for (int pass = 0; pass < 5; ++pass) {
            relay.RunPass();
        }
        EXPECT_EQ(relay.ConsoleCount("assigned to player ID 2.\n"), admittedBefore + 1);
        EXPECT_EQ(relay.ConsoleCount("Player 2 left.\n"), leftBefore + 1);
        EXPECT_TRUE(relay.state.registry.empty());
    }
}

class RelayAdmissionOfFour : public JoinedPlayers<5> {
protected:
    void CloseAndWait(PlayerId id) {
        Player(id).Close();
        ASSERT_TRUE(WaitUntilGone(relay, id)) << "player " << id;
    }
};

TEST_F(RelayAdmissionOfFour, SweepGoesOnAfterRemovingAPlayer) {
    CloseAndWait(3);
    CloseAndWait(4);
    SweepPlayers(relay.state, ReportedPlayers(relay.state));
    EXPECT_EQ(relay.NewConsole(), "Player 3 left.\nPlayer 4 left.\n");
    EXPECT_EQ(Ids(relay.state.registry), (std::vector<PlayerId>{2, 5}));
}

TEST_F(RelayAdmissionOfFour, RegistryRefusesAnEntryWithoutAnEndpoint) {
    EXPECT_FALSE(relay.state.registry.Add(6, nullptr));
    EXPECT_FALSE(relay.state.registry.Add(3, std::make_unique<NetSocket>()));
    CloseAndWait(4);
    SweepPlayers(relay.state, ReportedPlayers(relay.state));
    EXPECT_EQ(relay.NewConsole(), "Player 4 left.\n");
    EXPECT_EQ(Ids(relay.state.registry), (std::vector<PlayerId>{2, 3, 5}));
}

TEST_F(RelayAdmissionOfFour, OnePassRemovesEveryGonePlayer) {
    CloseAndWait(3);
    CloseAndWait(4);
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 3 left.\nPlayer 4 left.\n");
    EXPECT_EQ(Ids(relay.state.registry), (std::vector<PlayerId>{2, 5}));
}

TEST(RelayAdmission, LowestFreePlayerIdFillsTheFirstGap) {
    PlayerRegistry registry;
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{2});
    registry.Add(3, std::make_unique<NetSocket>());
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{2});
    registry.Add(2, std::make_unique<NetSocket>());
    registry.Add(5, std::make_unique<NetSocket>());
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{4});
    registry.Add(4, std::make_unique<NetSocket>());
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{6});

    registry.clear();
    for (unsigned id = FIRST_PLAYER_ID; id < LAST_PLAYER_ID; ++id) {
        registry.Add(static_cast<PlayerId>(id), std::make_unique<NetSocket>());
    }
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{65535});
    registry.Add(LAST_PLAYER_ID, std::make_unique<NetSocket>());
    EXPECT_EQ(LowestFreePlayerId(registry), std::nullopt);
    registry.Remove(registry.find(40000));
    EXPECT_EQ(LowestFreePlayerId(registry), PlayerId{40000});
}

TEST(RelayAdmission, ConnectionIsClosedAtOnceWhenEveryIdIsTaken) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    // Endpoints that were never opened hold every id; AdmitPlayer is called alone since a sweep
    // would drop them.
    for (unsigned id = FIRST_PLAYER_ID; id <= LAST_PLAYER_ID; ++id) {
        relay.state.registry.Add(static_cast<PlayerId>(id), std::make_unique<NetSocket>());
    }
    LoopbackClient client(relay.Port());
    ASSERT_TRUE(client.Connected());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (relay.ConsoleCount("Refused a connection") == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        AdmitPlayer(relay.state, TickCount());
    }
    EXPECT_EQ(relay.Console(), "Refused a connection from 127.0.0.1: every player ID is taken.\n");
    EXPECT_TRUE(client.ClosedByPeer());
    EXPECT_EQ(relay.state.registry.size(), std::size_t{LAST_PLAYER_ID} - 1);
    for (const auto& entry : relay.state.registry) {
        ASSERT_FALSE(entry.second.endpoint->IsOpen()) << "player " << entry.first;
    }
}

}  // namespace
