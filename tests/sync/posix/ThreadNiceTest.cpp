#include "sync/Clock.h"
#include "sync/Thread.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

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

// Whether the calling thread may lower a nice value back to 0: CAP_SYS_NICE in its effective
// set, or an RLIMIT_NICE that reaches 0 (20 - limit <= 0).
bool MayRaisePriority() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    const bool capable =
        syscall(SYS_capget, &header, data) == 0 && (data[0].effective & (1u << CAP_SYS_NICE)) != 0;
    rlimit limit{};
    return capable || (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur >= 20);
}

// Drops CAP_SYS_NICE from the calling thread's effective set (capabilities are per thread).
bool DropNicePrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    return syscall(SYS_capset, &header, data) == 0;
}

// The nice value the reporter sees after the latest change.
int FreshNiceValue(NiceReporter& reporter) {
    reporter.nice = 100;
    WaitFor([&] { return reporter.nice.load() != 100; });
    return reporter.nice.load();
}

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

// Lowering a nice value again needs a privilege: without it SetPriority says so and the thread
// keeps its level; with it the thread is back at Normal.
TEST(ThreadNiceTest, BackToNormalAfterALowerLevelWorksOnlyWithThePrivilege) {
    NiceReporter reporter;
    Thread thread;
    ASSERT_EQ(thread.Start(&NiceReporter::Run, &reporter), 0);
    ASSERT_EQ(thread.SetPriority(ThreadPriority::Idle), 0);
    ASSERT_EQ(FreshNiceValue(reporter), 19);

    const int expected = MayRaisePriority() ? 0 : 1;
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Normal), expected);
    EXPECT_EQ(FreshNiceValue(reporter), expected == 0 ? 0 : 19);

    // The same from a controlling thread without the privilege, where the process has it.
    ASSERT_EQ(thread.SetPriority(ThreadPriority::Idle), 0);
    int unprivileged = -1;
    bool dropped = false;
    std::thread controller([&] {
        dropped = DropNicePrivilege() && !MayRaisePriority();
        unprivileged = thread.SetPriority(ThreadPriority::Normal);
    });
    controller.join();
    if (dropped) {
        EXPECT_EQ(unprivileged, 1);
        EXPECT_EQ(FreshNiceValue(reporter), 19);
    }
    reporter.stop = true;
    EXPECT_EQ(thread.Join(), 0);
}
