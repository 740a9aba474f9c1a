#include "sync/Clock.h"
#include "sync/Thread.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The calling thread's nice value as the kernel reports it (field 19 of its stat line), or
// a value no thread has when it cannot be read.
int OwnNiceValue() {
    std::ifstream stat("/proc/thread-self/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return 100;
    }
    // The command name in parentheses may hold spaces; the fields after it do not.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 19 && fields >> field; ++index) {
    }
    return std::stoi(field);
}

// Reports its own nice value, over and over, until told to stop.
struct NiceReporter {
    std::atomic<int> nice{100};
    std::atomic<bool> stop{false};

    static void Run(void* self) {
        auto* reporter = static_cast<NiceReporter*>(self);
        while (!reporter->stop.load()) {
            reporter->nice.store(OwnNiceValue());
            SleepMilliseconds(1);
        }
    }
};

}  // namespace

TEST(ThreadNiceTest, EachPriorityLevelShowsInTheThreadsOwnNiceValue) {
    NiceReporter reporter;
    Thread thread;
    ASSERT_EQ(thread.Start(&NiceReporter::Run, &reporter), 0);
    ASSERT_TRUE(WaitFor([&] { return reporter.nice.load() == 0; }));
    const struct {
        int priority;
        int nice;
    } levels[] = {
        {ThreadPriority::BelowNormal, 5}, {ThreadPriority::Lowest, 10}, {ThreadPriority::Idle, 19}};
    for (const auto& level : levels) {
        EXPECT_EQ(thread.SetPriority(level.priority), 0);
        EXPECT_TRUE(WaitFor([&] { return reporter.nice.load() == level.nice; }))
            << "priority " << level.priority << " gave nice " << reporter.nice.load();
    }
    EXPECT_EQ(OwnNiceValue(), 0) << "the change reached another thread";
    reporter.stop = true;
    EXPECT_EQ(thread.Join(), 0);
}
