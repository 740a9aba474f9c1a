// Relay frames as a player's client reads them off the wire.

#include "protocol/Frame.h"
#include "server/Players.h"
#include "sync/Clock.h"
#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// "0", or an optional minus and digits without a leading zero.
bool IsSignedDecimal(const std::string& text) {
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits) {
        return false;
    }
    for (std::size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return text[digits] != '0' || text == "0";
}

TEST(RelayFrames, GreetingsAreTheIdDigitsAndTheSignedTickCountAndNothingMore) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    std::vector<std::unique_ptr<LoopbackClient>> earlier;
    for (PlayerId expected = 2; expected < 12; ++expected) {
        PlayerId id = 0;
        earlier.push_back(relay.Join(id));
        ASSERT_TRUE(earlier.back());
        ASSERT_EQ(id, expected);
    }

    const std::uint32_t before = TickCount();
    const auto client = relay.Connect();
    const std::uint32_t after = TickCount();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->ReadExactly(6), (Bytes{0x00, 0x0C, 0x00, 0x02, '1', '2'}));

    const auto clock = client->ReadFrame();
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->id, MSG_WELCOME);
    EXPECT_EQ(clock->target, 12);
    ASSERT_TRUE(IsSignedDecimal(clock->value)) << clock->value;
    const long long value = std::stoll(clock->value);
    ASSERT_GE(value, INT32_MIN);
    ASSERT_LE(value, INT32_MAX);
    // The text is the 32-bit tick count read as signed, taken while the player was admitted.
    const auto tick = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    EXPECT_LE(tick - before, after - before) << value;

    // The next frame each of them sees is one sent after the admission: the greetings went to
    // the new player only, and only two of them.
    ASSERT_TRUE(relay.Deliver(*earlier[0], 2, 9, 12, "after"));
    ASSERT_TRUE(relay.Deliver(*earlier[1], 3, 9, 2, "after"));
    relay.RunPass();
    EXPECT_EQ(client->ReadFrame(), (Frame{9, 12, "after"}));
    EXPECT_EQ(earlier[0]->ReadFrame(), (Frame{9, 2, "after"}));
}

TEST(RelayFrames, GreetingClockIsTheTickCountReadAsSigned32Bits) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    // Past 2^31 ms (24.9 days of uptime) the clock reads as negative, as players expect it.
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0x7FFFFFFFu, "2147483647"}, {0x80000000u, "-2147483648"}, {0xFFFFFFFFu, "-1"}, {0u, "0"}};
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (const auto& [tick, text] : cases) {
        clients.push_back(std::make_unique<LoopbackClient>(relay.Port()));
        ASSERT_TRUE(clients.back()->Connected());
        // Admission is given the tick itself, as a pass gives it the server's clock.
        const std::size_t players = relay.state.registry.size();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (relay.state.registry.size() == players &&
               std::chrono::steady_clock::now() < deadline) {
            AdmitPlayer(relay.state, tick);
        }
        ASSERT_TRUE(clients.back()->ReadFrame());
        const auto clock = clients.back()->ReadFrame();
        ASSERT_TRUE(clock);
        EXPECT_EQ(clock->value, text) << tick;
    }
}

TEST(RelayFrames, TargetAboveOneByteReachesItsPlayer) {
    RelayHarness relay;
    ASSERT_TRUE(relay.Listening());
    // Ids 2 to 512 taken, so the next client becomes player 513.
    for (PlayerId id = 2; id <= 512; ++id) {
        relay.state.registry.Add(id, std::make_unique<NetSocket>());
    }
    LoopbackClient far(relay.Port());
    ASSERT_TRUE(far.Connected());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (relay.Endpoint(513) == nullptr && std::chrono::steady_clock::now() < deadline) {
        AdmitPlayer(relay.state, TickCount());
    }
    ASSERT_NE(relay.Endpoint(513), nullptr);
    EXPECT_EQ(far.ReadGreeting(), 513);
    // Lets the sweep clear the entries whose endpoints were never opened, so that the next client
    // becomes player 2.
    relay.RunPass();

    PlayerId nearId = 0;
    const auto near = relay.Join(nearId);
    ASSERT_TRUE(near);
    ASSERT_EQ(nearId, 2);
    ASSERT_TRUE(relay.Deliver(*near, 2, 5, 513, "v"));
    relay.RunPass();
    EXPECT_EQ(far.ReadExactly(5), (Bytes{0x05, 0x01, 0x02, 0x01, 'v'}));
}

// Players 2 to 4, with the messages the server gets shown on its console.
class RelayFramesAmongThree : public JoinedPlayers<4> {
protected:
    RelayFramesAmongThree() : JoinedPlayers(true) {}
};

TEST_F(RelayFramesAmongThree, BroadcastReachesEveryoneButTheSender) {
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, "hi"));
    relay.RunPass();
    const Bytes frame{0x07, 0x00, 0x00, 0x02, 'h', 'i'};
    EXPECT_EQ(Player(2).ReadExactly(6), frame);
    EXPECT_EQ(Player(4).ReadExactly(6), frame);
    ExpectNothingBeforeMarker(2, 3);
}

TEST_F(RelayFramesAmongThree, PlayerNamingItselfGetsItsMessageBack) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 6, 2, "me"));
    relay.RunPass();
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{6, 2, "me"}));
    ExpectNothingBeforeMarker(2, 3);
    ExpectNothingBeforeMarker(2, 4);
}

TEST_F(RelayFramesAmongThree, UnknownTargetIsDroppedWithoutATrace) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 6, 77, "lost"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "");
    EXPECT_EQ(relay.state.registry.count(77), 0u);
    EXPECT_EQ(relay.state.registry.size(), 3u);
    ExpectNothingBeforeMarker(3, 2);
    ExpectNothingBeforeMarker(2, 3);
    ExpectNothingBeforeMarker(2, 4);
}

TEST_F(RelayFramesAmongThree, EmptyValueTravelsAsAHeaderAloneAndTheNextFrameFollows) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 5, 3, ""));
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 6, 3, "x"));
    relay.RunPass();
    EXPECT_EQ(Player(3).ReadExactly(4), (Bytes{0x05, 0x03, 0x00, 0x00}));
    relay.RunPass();
    EXPECT_EQ(Player(3).ReadFrame(), (Frame{6, 3, "x"}));

    relay.NewConsole();
    ASSERT_TRUE(relay.Deliver(Player(4), 4, 8, BROADCAST_ID, ""));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Received a message.\nID \t= 8\nFrom \t= 4\nValue \t=  (0)\n");
    EXPECT_EQ(Player(2).ReadExactly(4), (Bytes{0x08, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Player(3).ReadExactly(4), (Bytes{0x08, 0x00, 0x00, 0x00}));
}

}  // namespace
