#include "sync/Thread.h"
#include "sync/KillableWait.h"

#include <windows.h>

#include <new>

struct PlatformThread {
    HANDLE thread;
};

namespace {

// How long Kill waits for a terminated thread to end.
constexpr DWORD KILL_WAIT_MS = 1000;

// Owned by the new thread, so that the Thread object may be destroyed before it is read.
struct StartRecord {
    Thread::Entry entry;
    void* parameter;
};

DWORD WINAPI RunEntry(LPVOID startRecord) {
    const StartRecord start = *static_cast<StartRecord*>(startRecord);
    delete static_cast<StartRecord*>(startRecord);
    start.entry(start.parameter);
    return 0;
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Undoes every suspension still in force.
void ResumeFully(HANDLE thread) {
    DWORD previousCount = 0;
    do {
        previousCount = ResumeThread(thread);
    } while (previousCount > 1 && previousCount != static_cast<DWORD>(-1));
}

}  // namespace

Thread::~Thread() {
    if (handle != nullptr) {
        ResumeFully(handle->thread);
        CloseHandle(handle->thread);
        delete handle;
    }
}

int Thread::Start(Entry entry, void* parameter) {
    if (handle != nullptr) {
        return 1;
    }
    auto* start = new (std::nothrow) StartRecord{entry, parameter};
    auto* record = new (std::nothrow) PlatformThread{nullptr};
    if (start != nullptr && record != nullptr) {
        record->thread = CreateThread(nullptr, 0, RunEntry, start, 0, nullptr);
    }
    if (record == nullptr || record->thread == nullptr) {
        delete start;
        delete record;
        return 1;
    }
    handle = record;
    return 0;
}

int Thread::SetPriority(int priority) {
    if (handle == nullptr) {
        return 1;
    }
    return SetThreadPriority(handle->thread, priority) ? 0 : 1;
}

int Thread::Suspend() {
    if (handle == nullptr || SuspendThread(handle->thread) == static_cast<DWORD>(-1)) {
        return 1;
    }
    // SuspendThread only asks the scheduler; reading the thread's registers waits until it has
    // really stopped.
    CONTEXT registers{};
    registers.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(handle->thread, &registers);
    return 0;
}

int Thread::Resume() {
    if (handle == nullptr) {
        return 1;
    }
    // Undoes one Suspend: a thread suspended twice runs again after the second Resume.
    return ResumeThread(handle->thread) == static_cast<DWORD>(-1) ? 1 : 0;
}

// TerminateThread ends a thread wherever it is, so no wait needs marking.
KillableWait::KillableWait(bool) {}
KillableWait::~KillableWait() = default;

int Thread::Kill() {
    if (handle == nullptr) {
        return 0;
    }
    // TerminateThread only starts the end of the thread; the wait sees it through.
    const bool ended = HasEnded(handle->thread) ||
                       (TerminateThread(handle->thread, 0) &&
                        WaitForSingleObject(handle->thread, KILL_WAIT_MS) == WAIT_OBJECT_0);
    CloseHandle(handle->thread);
    delete handle;
    handle = nullptr;
    return ended ? 0 : 1;
}

int Thread::Join() {
    if (handle == nullptr) {
        return 0;
    }
    ResumeFully(handle->thread);
    if (WaitForSingleObject(handle->thread, INFINITE) != WAIT_OBJECT_0) {
        return 1;
    }
    CloseHandle(handle->thread);
    delete handle;
    handle = nullptr;
    return 0;
}
