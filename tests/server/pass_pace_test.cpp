// When passes begin: a fixed tick from start to start, or, with an interval of 0, a wait on the
// readiness set that ends for a player's input, a new connection, room for kept output or the
// wake signal (typed commands, stop requests), and for nothing else.

#include "server/PassPace.h"
#include "tests/server/RelayBounds.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using std::chrono::milliseconds;

constexpr auto RETURN_LIMIT = std::chrono::seconds(10);
// How long a wait that should go on is watched; it can only pass wrongly by waking for nothing.
constexpr auto QUIET_WATCH = milliseconds(300);

class PaceThatWaits : public RelayBounds {
protected:
    ~PaceThatWaits() override {
        if (waiter.joinable()) {
            pace.Wake().Raise();
            waiter.join();
        }
    }

    void StartWaiting() {
        returned = false;
        waiter = std::thread([this] {
            pace.AwaitNextPass(SteadyClock::now());
            returned = true;
        });
    }

    bool StillWaiting() {
        std::this_thread::sleep_for(QUIET_WATCH);
        return !returned;
    }

    // True when the wait returns within the limit; the waiting thread is then done.
    bool Returns() {
        const auto deadline = std::chrono::steady_clock::now() + RETURN_LIMIT;
        while (!returned && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(2));
        }
        if (!returned) {
            return false;
        }
        waiter.join();
        return true;
    }

    PassPace pace{relay.state, 0};
    std::thread waiter;
    std::atomic<bool> returned{false};
};

TEST_F(PaceThatWaits, AnIdleServerWaitsUntilItsWakeSignalIsRaisedAndNotAgainAfter) {
    StartWaiting();
    ASSERT_TRUE(StillWaiting());
    pace.Wake().Raise();
    ASSERT_TRUE(Returns());
    // The raise was taken back: the next wait goes on.
    StartWaiting();
    EXPECT_TRUE(StillWaiting());
    pace.Wake().Raise();
    EXPECT_TRUE(Returns());
}

TEST_F(PaceThatWaits, AWaitEndsForAPlayersInputAndForANewConnection) {
    StartWaiting();
    ASSERT_TRUE(StillWaiting());
    ASSERT_TRUE(Player(2).SendFrame(7, 3, "now"));
    ASSERT_TRUE(Returns());
    relay.RunPass();
    EXPECT_EQ(Player(3).ReadFrame(), (Frame{7, 3, "now"}));

    StartWaiting();
    ASSERT_TRUE(StillWaiting());
    LoopbackClient newcomer(relay.Port());
    ASSERT_TRUE(newcomer.Connected());
    ASSERT_TRUE(Returns());
    relay.RunPass();
    EXPECT_EQ(newcomer.ReadGreeting(), 6);
}

TEST_F(PaceThatWaits, AWaitEndsAtOnceWhileAWholeMessageIsLeftFromThePass) {
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 7, BROADCAST_ID, "first"));
    ASSERT_TRUE(relay.Deliver(Player(2), 2, 7, BROADCAST_ID, "second"));
    // The first broadcast ends the pass; the second is left.
    relay.RunPass();
    StartWaiting();
    EXPECT_TRUE(Returns());
}

TEST_F(PaceThatWaits, AWaitEndsWhenASocketThatKeptOutputTakesItAgain) {
    Player(3).SetReceiveBufferSize(4096);
    std::uint32_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
    while (relay.Endpoint(3)->KeptOutput() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        ASSERT_TRUE(relay.Deliver(Player(2), 2, 1, 3, NumberedValue(sent++)));
        relay.RunPass();
    }
    // The kernel may still be moving bytes on towards the reader (under wine it keeps doing so
    // for a while): the socket has no room only once passes no longer shrink the kept output.
    for (std::size_t kept = 0; relay.Endpoint(3)->KeptOutput() != kept;) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        kept = relay.Endpoint(3)->KeptOutput();
        std::this_thread::sleep_for(milliseconds(100));
        relay.RunPass();
    }
    StartWaiting();
    ASSERT_TRUE(StillWaiting()) << "woke while the socket had no room";
    Player(3).SetReceiveBufferSize(4 << 20);
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(Player(3).ReadAvailable(received));
    EXPECT_TRUE(Returns());
}

TEST(PaceOfATick, PassesBeginAnIntervalApartStartToStartWithNoBurstAfterALatePass) {
    RelayHarness relay;
    PassPace pace(relay.state, 50);
    const auto start = SteadyClock::now();
    pace.AwaitNextPass(start);
    EXPECT_GE(SteadyClock::now() - start, milliseconds(50));
    // A pass that took longer than the interval is followed at once, every time.
    const auto late = SteadyClock::now() - milliseconds(5000);
    const auto before = SteadyClock::now();
    for (int pass = 0; pass < 3; ++pass) {
        pace.AwaitNextPass(late);
    }
    EXPECT_LT(SteadyClock::now() - before, milliseconds(1000));
}

}  // namespace
