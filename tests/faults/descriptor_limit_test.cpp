// The server with a small limit on open descriptors, so that accepting a connection fails.
#include "testing/LoopbackClient.h"
#include "testing/ProcessStats.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

// Soft and hard limit alike, so that the server cannot raise it at start.
constexpr int DESCRIPTOR_LIMIT = 16;

// Two messages that player `id` sends itself and reads back, the second sent once the first has
// been relayed: the pass that relays the second began after anything done before this call,
// and admitted a waiting client if it could, greeting it before the second message came back.
bool APassHasBegunSince(LoopbackClient& player, std::uint16_t id) {
    for (const char* value : {"first", "second"}) {
        if (!player.SendFrame(8, id, value) ||
            player.ReadFrame(SERVER_WAIT_MS) != (Frame{8, id, value})) {
            return false;
        }
    }
    return true;
}

TEST(DescriptorLimit, ServerWaitsForAFreeDescriptorAndAdmitsAgain) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << NEEDS_NATIVE_SERVER;
    }
    ServerProcess server(
        {"prlimit",
         "--nofile=" + std::to_string(DESCRIPTOR_LIMIT) + ":" + std::to_string(DESCRIPTOR_LIMIT),
         "--"});
    const std::uint16_t port = server.StartListening(false);
    ASSERT_NE(port, 0);

    // Players are admitted until no descriptor is left; the first client that is not greeted by
    // a pass that began after it connected waits in the listener's queue.
    std::vector<std::unique_ptr<LoopbackClient>> players;
    std::unique_ptr<LoopbackClient> waiting;
    for (int attempt = 0; attempt < DESCRIPTOR_LIMIT + 4 && !waiting; ++attempt) {
        auto client = std::make_unique<LoopbackClient>(port);
        ASSERT_TRUE(client->Connected());
        const auto id = static_cast<std::uint16_t>(2 + players.size());
        if (!players.empty()) {
            ASSERT_TRUE(APassHasBegunSince(*players.back(), static_cast<std::uint16_t>(id - 1)));
        }
        if (client->ReadGreeting(players.empty() ? SERVER_WAIT_MS : 1000) == id) {
            players.push_back(std::move(client));
        } else {
            waiting = std::move(client);
        }
    }
    ASSERT_TRUE(waiting) << "the limit was never reached";
    ASSERT_FALSE(players.empty());

    // Every pass tries the accept again and fails; the server neither ends nor spins.
    const std::optional<long> cpuBefore = CpuMilliseconds(server.Pid());
    const auto wallBefore = std::chrono::steady_clock::now();
    EXPECT_TRUE(waiting->NothingArrives(2000));
    const std::optional<long> cpuAfter = CpuMilliseconds(server.Pid());
    const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - wallBefore)
                            .count();
    ASSERT_TRUE(cpuBefore && cpuAfter);
    EXPECT_LT(*cpuAfter - *cpuBefore, wallMs / 2) << "CPU milliseconds while accepts fail";
    EXPECT_FALSE(server.WaitForExit(0).has_value());

    // The players already in are still served.
    ASSERT_TRUE(players.back()->SendFrame(3, 2, "full house"));
    EXPECT_EQ(players.front()->ReadFrame(SERVER_WAIT_MS), (Frame{3, 2, "full house"}));

    // A descriptor comes free: the waiting client is admitted with the id that was freed.
    players.front()->Close();
    EXPECT_TRUE(server.WaitForOutput("Player 2 left."));
    EXPECT_EQ(waiting->ReadGreeting(SERVER_WAIT_MS), 2);
    EXPECT_TRUE(server.WaitForOutputCount("assigned to player ID 2.", 2));

    // And the next one waits again.
    LoopbackClient another(port);
    ASSERT_TRUE(another.Connected());
    ASSERT_TRUE(APassHasBegunSince(*waiting, 2));
    EXPECT_TRUE(another.NothingArrives(1000));
}

}  // namespace
