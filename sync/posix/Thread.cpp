#include "posix/PlatformThread.h"

#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

// The set that holds the suspend signal alone, made once by the first Start.
const sigset_t& SuspendSignalSet() {
    static const sigset_t set = [] {
        sigset_t made;
        sigemptyset(&made);
        sigaddset(&made, SuspendSignal());
        return made;
    }();
    return set;
}

// Runs as the thread ends, whether its body returned or a Kill ended it.
void FinishThread(PlatformThread* record) {
    // A suspend request after this point would find no handler to answer it.
    pthread_sigmask(SIG_BLOCK, &SuspendSignalSet(), nullptr);
    SetCurrentThreadRecord(nullptr);
    record->finished.store(true);
    ReleasePlatformThread(record);
}

void* RunEntry(void* shared) {
    auto* const record = static_cast<PlatformThread*>(shared);
    record->taskId = gettid();
    // A Kill jumps back here from a KillableWait, leaving the body's frames without running
    // anything in them, and the thread ends as if the body had returned. The signal mask is
    // saved, so that the kill signal is taken again after the jump out of its handler.
    if (sigsetjmp(record->killJump, 1) == 0) {
        SetCurrentThreadRecord(record);
        sem_post(&record->started);
        record->entry(record->parameter);
    }
    FinishThread(record);
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
    ResumeFully(*handle);
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
    InstallKillHandler();
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

int Thread::Join() {
    if (handle == nullptr) {
        return 0;
    }
    ResumeFully(*handle);
    if (pthread_join(handle->thread, nullptr) != 0) {
        return 1;
    }
    ReleasePlatformThread(handle);
    handle = nullptr;
    return 0;
}
