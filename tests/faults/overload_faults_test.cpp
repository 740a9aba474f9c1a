// Clients that take too little or send too much, against the real server binary.
#include "testing/LoopbackClient.h"
#include "testing/ProcessStats.h"
#include "tests/faults/FrameStream.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<LoopbackClient> Join(std::uint16_t port, std::uint16_t expectedId) {
    auto client = std::make_unique<LoopbackClient>(port);
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(client->ReadGreeting(SERVER_WAIT_MS), expectedId);
    return client;
}

// One message each way between two players; true when both arrive whole.
bool RoundTrip(LoopbackClient& first, std::uint16_t firstId, LoopbackClient& second,
               std::uint16_t secondId, int round) {
    const std::string there = "there " + std::to_string(round);
    const std::string back = "back " + std::to_string(round);
    return first.SendFrame(5, secondId, there) &&
           second.ReadFrame(10000) == (Frame{5, secondId, there}) &&
           second.SendFrame(6, firstId, back) &&
           first.ReadFrame(10000) == (Frame{6, firstId, back});
}

// Checks that numbered frames from each sender come whole, unchanged and gap-free from 0.
void ExpectInOrderPerSender(const std::vector<Frame>& frames, std::uint8_t id,
                            std::uint16_t target) {
    std::map<std::uint8_t, std::uint16_t> next;
    for (const Frame& frame : frames) {
        Numbered numbers;
        ASSERT_EQ(frame.id, id);
        ASSERT_EQ(frame.target, target);
        ASSERT_TRUE(ReadNumbers(frame, numbers)) << "a frame's value was changed";
        ASSERT_EQ(numbers.sequence, next[numbers.sender])
            << "frame lost, repeated or reordered from sender " << int(numbers.sender);
        ++next[numbers.sender];
    }
}

TEST(OverloadFaults, SlowReaderIsRemovedPastTheOutputBoundWhileOthersAreServed) {
    ServerProcess server;
    const std::uint16_t port = server.StartListening(false);
    ASSERT_NE(port, 0);
    LoopbackClient slow(port, LoopbackClient::Window::Narrow);
    ASSERT_TRUE(slow.Connected());
    ASSERT_TRUE(server.WaitForOutput("assigned to player ID 2."));
    auto first = Join(port, 3);
    auto second = Join(port, 4);

    // The relay passes one message per player per pass, so it takes many senders to put more
    // than the 1 MiB bound in front of one player within seconds.
    constexpr int SENDERS = 50;
    constexpr int FRAMES_EACH = 150;
    std::vector<std::unique_ptr<LoopbackClient>> senders;
    for (int index = 0; index < SENDERS; ++index) {
        senders.push_back(Join(port, static_cast<std::uint16_t>(5 + index)));
        ASSERT_FALSE(HasFatalFailure());
    }
    for (int index = 0; index < SENDERS; ++index) {
        std::vector<std::uint8_t> batch;
        for (int sequence = 0; sequence < FRAMES_EACH; ++sequence) {
            const auto frame = NumberedFrame(9, 2, static_cast<std::uint8_t>(index),
                                             static_cast<std::uint16_t>(sequence));
            batch.insert(batch.end(), frame.begin(), frame.end());
        }
        ASSERT_TRUE(senders[static_cast<std::size_t>(index)]->SendBytes(batch));
    }

    int rounds = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (server.Output().find("Player 2 left.") == std::string::npos && Clock::now() < deadline) {
        ASSERT_TRUE(RoundTrip(*first, 3, *second, 4, rounds)) << "round " << rounds;
        ++rounds;
    }
    ASSERT_TRUE(server.WaitForOutput("Player 2 left.", 1000));
    EXPECT_GT(rounds, 0);

    // What reached the slow reader before the cut is whole and in order; the cut itself may
    // fall inside the last frame, and then the connection ends.
    bool ended = false;
    std::vector<std::uint8_t> bytes = slow.ReadUntilClosed(30000, ended);
    EXPECT_TRUE(ended);
    std::vector<Frame> frames = TakeWholeFrames(bytes);
    EXPECT_LT(bytes.size(), 259u);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].target, 2);
    EXPECT_EQ(frames[1].target, 2);
    frames.erase(frames.begin(), frames.begin() + 2);
    EXPECT_FALSE(frames.empty());
    ExpectInOrderPerSender(frames, 9, 2);

    EXPECT_TRUE(RoundTrip(*first, 3, *second, 4, rounds));
    EXPECT_FALSE(server.WaitForExit(0).has_value());
}

TEST(OverloadFaults, FloodOfThirtyMegabytesIsHeldBackByFlowControl) {
    if (!ServerProcess::IsNative()) {
        GTEST_SKIP() << NEEDS_NATIVE_SERVER;
    }
    ServerProcess server;
    const std::uint16_t port = server.StartListening(false);
    ASSERT_NE(port, 0);
    auto flooder = Join(port, 2);
    auto first = Join(port, 3);
    auto second = Join(port, 4);
    auto reader = Join(port, 5);
    const std::optional<long> memoryBefore = ResidentKilobytes(server.Pid());
    ASSERT_TRUE(memoryBefore.has_value());

    constexpr std::size_t FLOOD_BYTES = 30u << 20;
    std::vector<std::uint8_t> pending;
    std::uint16_t sequence = 0;
    std::size_t flooded = 0;
    std::vector<std::uint8_t> arrived;
    std::vector<Frame> relayed;
    long memoryPeak = *memoryBefore;
    int rounds = 0;
    const auto stop = Clock::now() + std::chrono::seconds(8);
    auto nextRound = Clock::now();
    while (flooded < FLOOD_BYTES && Clock::now() < stop) {
        if (pending.empty()) {
            for (int count = 0; count < 256; ++count) {
                const auto frame = NumberedFrame(9, 5, 0, sequence++);
                pending.insert(pending.end(), frame.begin(), frame.end());
            }
        }
        const std::size_t taken = flooder->SendWithoutWaiting(pending.data(), pending.size());
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(taken));
        flooded += taken;
        if (taken == 0) {
            flooder->WaitWritable(50);
        }
        if (Clock::now() >= nextRound) {
            ASSERT_TRUE(RoundTrip(*first, 3, *second, 4, rounds)) << "round " << rounds;
            ++rounds;
            nextRound = Clock::now() + std::chrono::milliseconds(500);
            ASSERT_TRUE(reader->ReadAvailable(arrived));
            for (Frame& frame : TakeWholeFrames(arrived)) {
                relayed.push_back(std::move(frame));
            }
            memoryPeak = std::max(memoryPeak, ResidentKilobytes(server.Pid()).value_or(0));
        }
    }
    std::cout << "the flooding client wrote " << flooded << " bytes; the server relayed "
              << relayed.size() << " of its frames meanwhile\n";
    EXPECT_GT(rounds, 0);
    // The server holds at most 64 KiB of a player's input; the rest waits in the sockets.
    EXPECT_LT(memoryPeak - *memoryBefore, 16 * 1024) << "KiB grown during the flood";

    // Cut off in the middle of whatever frame was on its way.
    flooder->Reset();
    EXPECT_TRUE(server.WaitForOutput("Player 2 left.", 10000));
    EXPECT_TRUE(RoundTrip(*first, 3, *second, 4, rounds));
    bool open = reader->ReadAvailable(arrived);
    EXPECT_TRUE(open);
    for (Frame& frame : TakeWholeFrames(arrived)) {
        relayed.push_back(std::move(frame));
    }
    EXPECT_TRUE(arrived.empty()) << "a connected player holds part of a frame";
    EXPECT_FALSE(relayed.empty());
    ExpectInOrderPerSender(relayed, 9, 5);
    EXPECT_FALSE(server.WaitForExit(0).has_value());
}

}  // namespace
