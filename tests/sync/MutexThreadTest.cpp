#include "sync/Mutex.h"
#include "sync/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>

namespace {

// IsLocked as another thread sees it. A try that waited for the owner would never come back
// while the owner holds on, so the answer is awaited with a time limit.
std::optional<bool> IsLockedFromOtherThread(Mutex& mutex) {
    std::future<bool> answer = std::async(std::launch::async, [&] { return mutex.IsLocked(); });
    if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        return std::nullopt;
    }
    return answer.get();
}

}  // namespace

TEST(MutexThreadTest, IsLockedIsTrueWithoutWaitingWhileAnotherThreadHoldsIt) {
    Mutex mutex;
    mutex.Lock();
    const std::optional<bool> seen = IsLockedFromOtherThread(mutex);
    mutex.Unlock();
    ASSERT_TRUE(seen.has_value()) << "IsLocked waited for the owner";
    EXPECT_TRUE(*seen);
}

TEST(MutexThreadTest, IsLockedOnAFreeMutexIsFalseAndLeavesItFree) {
    Mutex mutex;
    EXPECT_EQ(IsLockedFromOtherThread(mutex), false);
    // Had the try kept the mutex, its thread would still own it and this thread would see it.
    EXPECT_FALSE(mutex.IsLocked());
    EXPECT_EQ(IsLockedFromOtherThread(mutex), false);
}

TEST(MutexThreadTest, OwnerMayLockAgainAndMustUnlockAsOften) {
    Mutex mutex;
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_FALSE(mutex.IsLocked()) << "the owner's own hold is not another thread's";
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(IsLockedFromOtherThread(mutex), true);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(IsLockedFromOtherThread(mutex), false);
}

TEST(MutexThreadTest, StartRunsTheEntryWithItsParameter) {
    std::atomic<int> seen{0};
    int parameter = 42;
    struct Record {
        int* parameter;
        std::atomic<int>* seen;
    } record{&parameter, &seen};
    Thread thread;
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.Start(
                  [](void* p) {
                      auto* r = static_cast<Record*>(p);
                      r->seen->store(*r->parameter);
                  },
                  &record),
              0);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_EQ(thread.Join(), 0);
    // Join waits for the body, so its effect is visible now.
    EXPECT_EQ(seen.load(), 42);
    EXPECT_FALSE(thread.IsRunning());
}

TEST(MutexThreadTest, UnlockFailsInAThreadThatDoesNotOwnTheMutex) {
    Mutex mutex;
    ASSERT_EQ(mutex.Lock(), 0);
    std::future<int> unlock = std::async(std::launch::async, [&] { return mutex.Unlock(); });
    EXPECT_EQ(unlock.get(), 1);
    EXPECT_EQ(IsLockedFromOtherThread(mutex), true) << "the refused unlock released the owner";
    EXPECT_EQ(mutex.Unlock(), 0);
}

TEST(MutexThreadTest, UnlockFailsOnceEveryLockIsUndone) {
    Mutex mutex;
    EXPECT_EQ(mutex.Unlock(), 1);
    ASSERT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(mutex.Unlock(), 1);
    EXPECT_EQ(IsLockedFromOtherThread(mutex), false);
}
