// vor-load's watch over the server it loads: the real binary, started and ended by the watch.

#include "testing/LoopbackClient.h"
#include "tools/load/RawConnection.h"
#include "tools/load/ServerWatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#ifndef VOR_SERVER_PATH
#error "VOR_SERVER_PATH must name the vor-server binary"
#endif

namespace {

// Samples until `done` holds, for at most a few seconds.
bool SampleUntil(ServerWatch& watch, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        watch.Sample();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

TEST(ServerWatch, StartsTheServerAndReadsItsMemoryAndConsole) {
    ServerWatch watch;
    std::string error;
    const std::uint16_t port = FreeLoopbackPort();
    ASSERT_TRUE(watch.Spawn(VOR_SERVER_PATH, port, error)) << error;
    EXPECT_TRUE(watch.Spawned());
    EXPECT_GT(watch.StartKib(), 0);
    EXPECT_GE(watch.HighestKib(), watch.StartKib());

    LoopbackClient player(port);
    ASSERT_TRUE(player.ReadGreeting().has_value());
    player.Close();
    EXPECT_TRUE(SampleUntil(
        watch, [&] { return watch.ConsoleAdmissions() == 1 && watch.ConsoleDepartures() == 1; }));
    EXPECT_FALSE(watch.Gone());
}

TEST(ServerWatch, NoticesThatTheServerHasEnded) {
    ServerWatch watch;
    std::string error;
    ASSERT_TRUE(watch.Spawn(VOR_SERVER_PATH, FreeLoopbackPort(), error)) << error;
    watch.Stop();
    watch.Sample();
    EXPECT_TRUE(watch.Gone());
    EXPECT_NE(watch.HowItEnded().find("ended with status"), std::string::npos);

    // A process named by id is gone once it can no longer be read.
    ServerWatch attached;
    attached.Attach(watch.Pid());
    EXPECT_TRUE(attached.Gone());
}

TEST(ServerWatch, FailsWhenTheServerCannotListen) {
    ServerWatch first;
    std::string error;
    const std::uint16_t port = FreeLoopbackPort();
    ASSERT_TRUE(first.Spawn(VOR_SERVER_PATH, port, error)) << error;

    ServerWatch second;
    EXPECT_FALSE(second.Spawn(VOR_SERVER_PATH, port, error));
    EXPECT_NE(error.find("did not start listening"), std::string::npos) << error;
}

TEST(ServerWatch, SaysWhyAProgramThatCannotBeStartedDidNotStart) {
    ServerWatch watch;
    std::string error;
    EXPECT_FALSE(watch.Spawn("/nonexistent/vor-server", FreeLoopbackPort(), error));
    EXPECT_FALSE(watch.Spawned());
    const std::string expected = "could not start /nonexistent/vor-server: ";
    EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    EXPECT_GT(error.size(), expected.size()) << "no reason given";
}

TEST(ServerWatch, PassesArgumentsToTheServerItStarts) {
    ServerWatch paced;
    std::string error;
    const std::uint16_t port = FreeLoopbackPort();
    ASSERT_TRUE(paced.Spawn(VOR_SERVER_PATH, port, error, {"--pass-interval", "0"})) << error;
    LoopbackClient player(port);
    EXPECT_TRUE(player.ReadGreeting().has_value());

    // The server refuses a pace out of range and ends, so the arguments did reach it.
    ServerWatch refused;
    EXPECT_FALSE(
        refused.Spawn(VOR_SERVER_PATH, FreeLoopbackPort(), error, {"--pass-interval", "1001"}));
    EXPECT_NE(error.find("did not start listening"), std::string::npos) << error;
}

TEST(ServerWatch, ReadsTheProcessorTimeOfTheServerWhileItRuns) {
    const auto began = std::chrono::steady_clock::now();
    ServerWatch watch;
    std::string error;
    // A pass every millisecond keeps the server busy enough to be seen using processor time.
    ASSERT_TRUE(watch.Spawn(VOR_SERVER_PATH, FreeLoopbackPort(), error, {"--pass-interval", "1"}))
        << error;
    const std::int64_t start = watch.ProcessorTime();
    ASSERT_GE(start, 0);
    EXPECT_TRUE(SampleUntil(watch, [&] { return watch.ProcessorTime() > start; }));
    // Microseconds: the clocks that count processor time tick every 1 to 16 ms, and the server
    // cannot have used more than every core for the whole time since it started.
    const std::int64_t used = watch.ProcessorTime();
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - began)
                          .count();
    EXPECT_GE(used - start, 1000);
    EXPECT_LE(used, wall * std::max(1u, std::thread::hardware_concurrency()));

    watch.Stop();
    watch.Sample();
    EXPECT_EQ(watch.ProcessorTime(), -1);
}
