#include "posix/PlatformThread.h"

#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

// How long Kill waits for a cancelled thread to end.
constexpr long KILL_WAIT_MS = 1000;

// The set that holds the suspend signal alone. Made once, by the first Start, so that a thread
// that is ending keeps no set on its stack: a cancellation leaves the stack of the frames it
// ended marked as they were, and AddressSanitizer would take a new variable there for a stale
// one.
const sigset_t& SuspendSignalSet() {
    static const sigset_t set = [] {
        sigset_t made;
        sigemptyset(&made);
        sigaddset(&made, SuspendSignal());
        return made;
    }();
    return set;
}

// Runs as the thread ends, whether its body returned or a cancellation ended it.
void FinishThread(void* shared) {
    auto* record = static_cast<PlatformThread*>(shared);
    // A suspend request after this point would find no handler to answer it.
    pthread_sigmask(SIG_BLOCK, &SuspendSignalSet(), nullptr);
    SetCurrentThreadRecord(nullptr);
    record->finished.store(true);
    ReleasePlatformThread(record);
}

// A value kept per thread (a pthread key) whose destructor finishes the thread: unlike a
// destructor on the thread's stack, it needs no unwinding of the body's frames.
pthread_key_t FinishKey() {
    static const pthread_key_t key = [] {
        pthread_key_t made{};
        pthread_key_create(&made, FinishThread);
        return made;
    }();
    return key;
}

// The body runs below a stretch of stack that nothing marks. A cancellation ends the body's
// frames without unwinding AddressSanitizer's marks of them, and the calls that end the thread
// then stay within the unmarked stretch.
[[gnu::no_sanitize_address]] void* RunEntry(void* shared) {
    // Volatile, so that the stretch is kept although nothing reads it.
    [[maybe_unused]] volatile char unmarkedStack[16 * 1024];
    unmarkedStack[0] = 0;
    auto* record = static_cast<PlatformThread*>(shared);
    SetCurrentThreadRecord(record);
    record->taskId = gettid();
    pthread_setspecific(FinishKey(), record);
    sem_post(&record->started);
    record->entry(record->parameter);
    return nullptr;
}

void WaitStarted(PlatformThread& record) {
    while (sem_wait(&record.started) != 0 && errno == EINTR) {
    }
}

// The nice value of each priority level: the Windows levels spread over nice's range.
struct PriorityLevel {
    int priority;
    int nice;
};
constexpr PriorityLevel PRIORITY_LEVELS[] = {
    {ThreadPriority::Idle, 19},          {ThreadPriority::Lowest, 10},
    {ThreadPriority::BelowNormal, 5},    {ThreadPriority::Normal, 0},
    {ThreadPriority::AboveNormal, -5},   {ThreadPriority::Highest, -10},
    {ThreadPriority::TimeCritical, -20},
};

// False for a value that is no level.
bool NiceValueFor(int priority, int& nice) {
    for (const PriorityLevel& level : PRIORITY_LEVELS) {
        if (level.priority == priority) {
            nice = level.nice;
            return true;
        }
    }
    return false;
}

}  // namespace

void ReleasePlatformThread(PlatformThread* record) {
    if (record->owners.fetch_sub(1) == 1) {
        sem_destroy(&record->started);
        sem_destroy(&record->stopped);
        delete record;
    }
}

timespec DeadlineAfter(long milliseconds) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += (milliseconds % 1000) * 1000 * 1000;
    if (deadline.tv_nsec >= 1000 * 1000 * 1000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000 * 1000 * 1000;
    }
    return deadline;
}

Thread::~Thread() {
    if (handle == nullptr) {
        return;
    }
    Resume();
    pthread_detach(handle->thread);
    ReleasePlatformThread(handle);
}

int Thread::Start(Entry entry, void* parameter) {
    if (handle != nullptr) {
        return 1;
    }
    auto* record = new (std::nothrow) PlatformThread;
    if (record == nullptr) {
        return 1;
    }
    SuspendSignalSet();
    FinishKey();
    record->entry = entry;
    record->parameter = parameter;
    sem_init(&record->started, 0, 0);
    sem_init(&record->stopped, 0, 0);
    if (pthread_create(&record->thread, nullptr, RunEntry, record) != 0) {
        record->owners.store(1);
        ReleasePlatformThread(record);
        return 1;
    }
    WaitStarted(*record);
    handle = record;
    return 0;
}

int Thread::SetPriority(int priority) {
    int nice = 0;
    if (handle == nullptr || handle->finished.load() || !NiceValueFor(priority, nice)) {
        return 1;
    }
    // Linux gives each thread a nice value of its own; a lower one than the process may set
    // (without CAP_SYS_NICE or a high enough RLIMIT_NICE) is refused.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(handle->taskId), nice) == 0 ? 0 : 1;
}

int Thread::Kill() {
    if (handle == nullptr) {
        return 0;
    }
    if (handle->finished.load()) {
        return Join();
    }
    Resume();
    // Cancellation ends the thread at its next wait: at once when it is waiting now.
    int result = 1;
    if (pthread_cancel(handle->thread) == 0) {
        const timespec deadline = DeadlineAfter(KILL_WAIT_MS);
        result = pthread_timedjoin_np(handle->thread, nullptr, &deadline) == 0 ? 0 : 1;
    }
    if (result != 0) {
        pthread_detach(handle->thread);
    }
    ReleasePlatformThread(handle);
    handle = nullptr;
    return result;
}

int Thread::Join() {
    if (handle == nullptr) {
        return 0;
    }
    Resume();
    if (pthread_join(handle->thread, nullptr) != 0) {
        return 1;
    }
    ReleasePlatformThread(handle);
    handle = nullptr;
    return 0;
}
