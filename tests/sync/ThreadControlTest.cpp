#include "net/NetSocket.h"
#include "sync/Clock.h"
#include "sync/Thread.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

constexpr unsigned AN_HOUR_MS = 60 * 60 * 1000;

// Counts, with a short pause per step, until told to stop.
struct Counter {
    std::atomic<long> count{0};
    std::atomic<bool> stop{false};

    static void Run(void* self) {
        auto* counter = static_cast<Counter*>(self);
        while (!counter->stop.load()) {
            counter->count.fetch_add(1);
            SleepMilliseconds(1);
        }
    }
};

void SleepAnHour(void* started) {
    static_cast<std::atomic<bool>*>(started)->store(true);
    SleepMilliseconds(AN_HOUR_MS);
}

// What a thread that is to be killed in a wait reports: that it has reached the wait, and
// whether anything after the wait ran.
struct WaitProgress {
    std::atomic<bool> waiting{false};
    std::atomic<bool> passedTheWait{false};

    void WaitAnHour() {
        waiting = true;
        SleepMilliseconds(AN_HOUR_MS);
        passedTheWait = true;
    }
};

// Waits in its destructor, as an object that tidies up by waiting for something does.
struct WaitsWhenDestroyed {
    WaitProgress* progress;
    ~WaitsWhenDestroyed() { progress->WaitAnHour(); }
};

void WaitInADestructor(void* progress) {
    const WaitsWhenDestroyed waiter{static_cast<WaitProgress*>(progress)};
}

void WaitInANoexceptFunction(void* progress) noexcept {
    static_cast<WaitProgress*>(progress)->WaitAnHour();
}

// How long `operation` took, in milliseconds.
template <typename Operation>
long long MillisecondsFor(Operation operation) {
    const auto start = std::chrono::steady_clock::now();
    operation();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

TEST(ThreadControlTest, SecondStartOnARunningThreadFailsAndRunsNothing) {
    Counter first;
    std::atomic<bool> secondRan{false};
    Thread thread;
    ASSERT_EQ(thread.Start(&Counter::Run, &first), 0);
    EXPECT_EQ(thread.Start([](void* ran) { static_cast<std::atomic<bool>*>(ran)->store(true); },
                           &secondRan),
              1);
    first.stop = true;
    EXPECT_EQ(thread.Join(), 0);
    EXPECT_FALSE(secondRan.load());
    // Once the first thread is gone, the object starts another.
    EXPECT_EQ(thread.Start([](void* ran) { static_cast<std::atomic<bool>*>(ran)->store(true); },
                           &secondRan),
              0);
    EXPECT_EQ(thread.Join(), 0);
    EXPECT_TRUE(secondRan.load());
}

TEST(ThreadControlTest, SuspendAndResumeWithoutAThreadFail) {
    Thread thread;
    EXPECT_EQ(thread.Suspend(), 1);
    EXPECT_EQ(thread.Resume(), 1);
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Normal), 1);
}

// Far below the hour the thread sleeps, far above what a Kill takes on a loaded machine.
constexpr long long KILL_BOUND_MS = 10000;

TEST(ThreadControlTest, KillEndsAThreadSleepingForAnHourAtOnceAndMayBeRepeated) {
    std::atomic<bool> started{false};
    {
        Thread thread;
        ASSERT_EQ(thread.Start(&SleepAnHour, &started), 0);
        ASSERT_TRUE(WaitFor([&] { return started.load(); }));
        int result = -1;
        const long long elapsed = MillisecondsFor([&] { result = thread.Kill(); });
        EXPECT_EQ(result, 0);
        EXPECT_LT(elapsed, KILL_BOUND_MS);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.Kill(), 0);
        EXPECT_FALSE(thread.IsRunning());
    }
    // The killed thread's object is gone without harm.
    EXPECT_TRUE(started.load());
}

TEST(ThreadControlTest, KillEndsAThreadWaitingToReceive) {
    NetSocket endpoint;
    ASSERT_EQ(endpoint.Open(NS_UDP | NS_BLOCKING, 0, nullptr), 0);
    struct Waiter {
        NetSocket* endpoint;
        std::atomic<bool> started{false};
        std::atomic<bool> returned{false};
    } waiter{&endpoint};
    Thread thread;
    ASSERT_EQ(thread.Start(
                  [](void* self) {
                      auto* w = static_cast<Waiter*>(self);
                      w->started = true;
                      char byte = 0;
                      w->endpoint->Read(&byte, 1);
                      w->returned = true;
                  },
                  &waiter),
              0);
    ASSERT_TRUE(WaitFor([&] { return waiter.started.load(); }));
    SleepMilliseconds(50);
    EXPECT_EQ(thread.Kill(), 0);
    EXPECT_FALSE(waiter.returned.load()) << "the receive ended by itself";
}

// Unwinding a thread's stack through a destructor or a noexcept function ends the process, so
// these would abort the whole test program if Kill unwound.
TEST(ThreadControlTest, KillEndsAThreadWaitingInADestructorOrANoexceptFunction) {
    const Thread::Entry bodies[] = {&WaitInADestructor, &WaitInANoexceptFunction};
    for (const Thread::Entry body : bodies) {
        WaitProgress progress;
        Thread thread;
        ASSERT_EQ(thread.Start(body, &progress), 0);
        ASSERT_TRUE(WaitFor([&] { return progress.waiting.load(); }));
        EXPECT_EQ(thread.Kill(), 0);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_FALSE(progress.passedTheWait.load());
    }
}

TEST(ThreadControlTest, ASuspendedThreadStopsUntilAResumeForEverySuspend) {
    Counter counter;
    Thread thread;
    ASSERT_EQ(thread.Start(&Counter::Run, &counter), 0);
    ASSERT_TRUE(WaitFor([&] { return counter.count.load() > 5; }));

    ASSERT_EQ(thread.Suspend(), 0);
    const long atSuspend = counter.count.load();
    SleepMilliseconds(200);
    EXPECT_EQ(counter.count.load(), atSuspend) << "the thread counted while suspended";
    ASSERT_EQ(thread.Suspend(), 0);
    ASSERT_EQ(thread.Resume(), 0);
    SleepMilliseconds(200);
    EXPECT_EQ(counter.count.load(), atSuspend) << "one Resume undid two Suspends";

    ASSERT_EQ(thread.Resume(), 0);
    EXPECT_TRUE(WaitFor([&] { return counter.count.load() > atSuspend + 5; }));
    // A Resume with no Suspend in force changes nothing.
    EXPECT_EQ(thread.Resume(), 0);
    const long running = counter.count.load();
    EXPECT_TRUE(WaitFor([&] { return counter.count.load() > running + 5; }));

    // Kill undoes every Suspend still in force.
    ASSERT_EQ(thread.Suspend(), 0);
    ASSERT_EQ(thread.Suspend(), 0);
    EXPECT_EQ(thread.Kill(), 0);
    EXPECT_FALSE(thread.IsRunning());
}

TEST(ThreadControlTest, SetPriorityTakesTheLevelsAndRefusesOtherValues) {
    Counter counter;
    Thread thread;
    ASSERT_EQ(thread.Start(&Counter::Run, &counter), 0);
    EXPECT_EQ(thread.SetPriority(ThreadPriority::BelowNormal), 0);
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Lowest), 0);
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Idle), 0);
    EXPECT_EQ(thread.SetPriority(7), 1);
    EXPECT_EQ(thread.SetPriority(-100), 1);
    counter.stop = true;
    EXPECT_EQ(thread.Join(), 0);
}
