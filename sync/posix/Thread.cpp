#include "sync/Thread.h"

#include <pthread.h>
#include <sched.h>

#include <new>

struct PlatformThread {
    pthread_t thread;
};

namespace {

// Owned by the new thread, so that the Thread object may be destroyed before it is read.
struct StartRecord {
    Thread::Entry entry;
    void* parameter;
};

void* RunEntry(void* startRecord) {
    const StartRecord start = *static_cast<StartRecord*>(startRecord);
    delete static_cast<StartRecord*>(startRecord);
    start.entry(start.parameter);
    return nullptr;
}

}  // namespace

Thread::~Thread() {
    if (handle != nullptr) {
        pthread_detach(handle->thread);
        delete handle;
    }
}

int Thread::Start(Entry entry, void* parameter) {
    if (handle != nullptr) {
        return 0;
    }
    auto* start = new (std::nothrow) StartRecord{entry, parameter};
    handle = new (std::nothrow) PlatformThread{};
    if (start == nullptr || handle == nullptr ||
        pthread_create(&handle->thread, nullptr, RunEntry, start) != 0) {
        delete start;
        delete handle;
        handle = nullptr;
    }
    return 0;
}

int Thread::SetPriority(int priority) {
    if (handle == nullptr) {
        return 0;
    }
    // Under the default time-sharing policy the only accepted priority is 0; other values
    // need a real-time policy and are refused, which is ignored here.
    int policy = SCHED_OTHER;
    sched_param parameters{};
    if (pthread_getschedparam(handle->thread, &policy, &parameters) == 0) {
        parameters.sched_priority = priority;
        pthread_setschedparam(handle->thread, policy, &parameters);
    }
    return 0;
}

int Thread::Suspend() {
    return 0;
}

int Thread::Resume() {
    return 0;
}

int Thread::Kill() {
    if (handle != nullptr) {
        pthread_join(handle->thread, nullptr);
        delete handle;
        handle = nullptr;
    }
    return 0;
}
