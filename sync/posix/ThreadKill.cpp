#include "posix/PlatformThread.h"
#include "sync/KillableWait.h"

#include <signal.h>
#include <time.h>

// POSIX cannot end another thread without unwinding its stack, and an unwinding that meets a
// destructor or a noexcept function ends the process. So a Kill ends a thread only inside one
// of the library's own waits (a KillableWait), by a jump back to the start of its body that
// runs nothing in between; a thread that is elsewhere ends at its next such wait.

namespace {

// How long Kill waits for the thread to end.
constexpr long KILL_WAIT_MS = 1000;

[[noreturn]] void EndThread(PlatformThread& self) {
    siglongjmp(self.killJump, 1);
}

void OnKillSignal(int) {
    PlatformThread* const self = CurrentThreadRecord();
    if (self != nullptr && self->killableDepth.load() > 0) {
        EndThread(*self);
    }
}

bool InstallKillHandlerOnce() {
    struct sigaction action {};
    action.sa_handler = OnKillSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the interrupted call returns, so that a runtime that delivers signals only
    // between calls (ThreadSanitizer's) still runs the handler; a call outside a KillableWait
    // fails with EINTR.
    action.sa_flags = 0;
    return sigaction(KillSignal(), &action, nullptr) == 0;
}

}  // namespace

int KillSignal() {
    return SIGRTMIN + 6;
}

bool InstallKillHandler() {
    static const bool installed = InstallKillHandlerOnce();
    return installed;
}

KillableWait::KillableWait(bool waits) {
    PlatformThread* const self = CurrentThreadRecord();
    if (!waits || self == nullptr) {
        return;
    }
    marked = true;
    // Marked before the request is read: a kill signal that comes after the mark jumps from its
    // handler, and a request made before it is seen here.
    self->killableDepth.fetch_add(1);
    if (self->killRequested.load()) {
        EndThread(*self);
    }
}

KillableWait::~KillableWait() {
    if (marked) {
        CurrentThreadRecord()->killableDepth.fetch_sub(1);
    }
}

int Thread::Kill() {
    if (handle == nullptr) {
        return 0;
    }
    if (handle->finished.load()) {
        return Join();
    }
    ResumeFully(*handle);
    // Seen by the thread's next KillableWait even when no signal can be sent.
    handle->killRequested.store(true);
    int result = 1;
    if (InstallKillHandler() && pthread_kill(handle->thread, KillSignal()) == 0) {
        const timespec deadline = DeadlineAfter(KILL_WAIT_MS);
        result = pthread_timedjoin_np(handle->thread, nullptr, &deadline) == 0 ? 0 : 1;
    }
    // A thread that has not ended yet ends at its next KillableWait, on its own.
    if (result != 0) {
        pthread_detach(handle->thread);
    }
    ReleasePlatformThread(handle);
    handle = nullptr;
    return result;
}
