// The binary with passes that wait for work and take several messages from each player.

#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

namespace {

constexpr int BROADCASTS = 200;

class WaitingPasses : public ::testing::Test {
protected:
    void SetUp() override {
        server = StartOnPort({"--pass-interval", "0", "--messages-per-pass", "64"}, port);
        ASSERT_NE(server, nullptr);
    }

    std::unique_ptr<LoopbackClient> Join(std::uint16_t expectedId) {
        return JoinAs(*server, port, expectedId);
    }

    // The pass count of a `stats` answer, or -1 when none came.
    long PassesNow() {
        const std::string answer = AnswerTo(*server, "stats", 1);
        std::smatch match;
        return std::regex_search(answer, match, std::regex("Up for [0-9]+ s: ([0-9]+) passes"))
                   ? std::stol(match[1].str())
                   : -1;
    }

    std::unique_ptr<ServerProcess> server;
    std::uint16_t port = 0;
};

TEST_F(WaitingPasses, BroadcastsComeThroughWholeAndInOrderAndAnIdleServerMakesNoPasses) {
    auto two = Join(2);
    auto three = Join(3);
    auto four = Join(4);
    std::vector<std::uint8_t> burst;
    for (int index = 0; index < BROADCASTS; ++index) {
        const auto frame = EncodeTestFrame(9, BROADCAST_ID, "b" + std::to_string(index));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(two->SendBytes(burst));
    // At one message per 100 ms pass this would take 20 s; rounds take them in a few passes.
    for (LoopbackClient* receiver : {three.get(), four.get()}) {
        for (int index = 0; index < BROADCASTS; ++index) {
            ASSERT_EQ(receiver->ReadFrame(WAIT_MS), (Frame{9, 0, "b" + std::to_string(index)}))
                << "frame " << index;
        }
    }
    EXPECT_TRUE(two->NothingArrives(100));

    // Each command wakes one pass; nothing else happens between them.
    const long first = PassesNow();
    ASSERT_GE(first, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long second = PassesNow();
    EXPECT_GE(second, first);
    EXPECT_LE(second - first, 3) << "passes while idle";
}

TEST_F(WaitingPasses, AStopRequestEndsTheWaitOfAnIdleServer) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << "sends POSIX signals; VOR_SERVER_COMMAND names another server";
    }
    auto two = Join(2);
    server->Signal(SIGTERM);
    EXPECT_TRUE(server->WaitForOutput("Server stopped.\n", WAIT_MS));
    EXPECT_EQ(server->WaitForExit(WAIT_MS), 0);
    EXPECT_TRUE(two->ClosedByPeer(WAIT_MS));
}

TEST_F(WaitingPasses, QuitTypedToAnIdleServerStopsIt) {
    server->WriteInput("quit\n");
    EXPECT_TRUE(server->WaitForOutput("Server stopped.\n", WAIT_MS));
    EXPECT_EQ(server->WaitForExit(WAIT_MS), 0);
}

}  // namespace
