#include "sync/Clock.h"
#include "sync/Thread.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr unsigned AN_HOUR_MS = 60 * 60 * 1000;

// A thread that spins, then waits in a wait of its own, then in one of the library's.
struct BusyWorker {
    std::atomic<bool> spinning{false};
    std::atomic<bool> release{false};
    std::atomic<bool> passedOwnWait{false};
    std::atomic<bool> passedLibraryWait{false};
    std::atomic<bool> ended{false};

    static void Run(void* self);
};

// Its destructor runs as the thread ends, however the thread's body was left.
struct EndReporter {
    std::atomic<bool>* ended = nullptr;
    ~EndReporter() {
        if (ended != nullptr) {
            ended->store(true);
        }
    }
};
thread_local EndReporter endReporter;

void BusyWorker::Run(void* self) {
    auto* worker = static_cast<BusyWorker*>(self);
    endReporter.ended = &worker->ended;
    worker->spinning = true;
    while (!worker->release.load()) {
        std::this_thread::yield();
    }
    // nanosleep, as the library's own sleep, but outside the library.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker->passedOwnWait = true;
    SleepMilliseconds(AN_HOUR_MS);
    worker->passedLibraryWait = true;
}

}  // namespace

TEST(ThreadKillTest, ABusyThreadIsEndedAtItsNextWaitInTheLibraryOnly) {
    BusyWorker worker;
    Thread thread;
    ASSERT_EQ(thread.Start(&BusyWorker::Run, &worker), 0);
    ASSERT_TRUE(WaitFor([&] { return worker.spinning.load(); }));

    EXPECT_EQ(thread.Kill(), 1) << "a thread outside the library's waits cannot end at once";
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(worker.ended.load());

    worker.release = true;
    ASSERT_TRUE(WaitFor([&] { return worker.ended.load(); })) << "the thread never ended";
    EXPECT_TRUE(worker.passedOwnWait.load()) << "the thread was ended in a wait of its own";
    EXPECT_FALSE(worker.passedLibraryWait.load());
}
