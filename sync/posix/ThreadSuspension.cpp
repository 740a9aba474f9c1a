#include "posix/PlatformThread.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

// POSIX has no call that suspends another thread. A suspend request is a signal whose handler
// reports that the thread has stopped and then waits, inside the handler, for the resume
// signal. The handler makes only async-signal-safe calls.

namespace {

thread_local PlatformThread* currentRecord = nullptr;

void OnSuspendSignal(int) {
    const int savedErrno = errno;
    PlatformThread* const self = currentRecord;
    if (self != nullptr) {
        // The resume signal is blocked while the handler runs (see InstallSuspendHandlers), so
        // one that comes before sigsuspend stays pending and is not lost.
        sigset_t waitMask;
        sigfillset(&waitMask);
        sigdelset(&waitMask, ResumeSignal());
        sem_post(&self->stopped);
        while (!self->resumeRequested.load()) {
            sigsuspend(&waitMask);
        }
        self->resumeRequested.store(false);
    }
    errno = savedErrno;
}

void OnResumeSignal(int) {}

bool Install(int signalNumber, void (*handler)(int), bool blockResumeAndKill) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // A kill signal waits until the suspend handler has returned, so that a jump never leaves
    // the handler half done.
    if (blockResumeAndKill) {
        sigaddset(&action.sa_mask, ResumeSignal());
        sigaddset(&action.sa_mask, KillSignal());
    }
    // Calls that the signal interrupts go on after the thread is resumed.
    action.sa_flags = SA_RESTART;
    return sigaction(signalNumber, &action, nullptr) == 0;
}

bool InstallBoth() {
    return Install(ResumeSignal(), OnResumeSignal, false) &&
           Install(SuspendSignal(), OnSuspendSignal, true);
}

// Waits for the thread to report that it has stopped; false when it ended first, since an
// ended thread takes no signal.
bool AwaitStopped(PlatformThread& record) {
    for (;;) {
        const timespec deadline = DeadlineAfter(10);
        if (sem_timedwait(&record.stopped, &deadline) == 0) {
            return true;
        }
        if (errno == ETIMEDOUT && record.finished.load()) {
            return false;
        }
    }
}

}  // namespace

bool InstallSuspendHandlers() {
    static const bool installed = InstallBoth();
    return installed;
}

// Real-time signals above the ones the C library keeps for itself.
int SuspendSignal() {
    return SIGRTMIN + 4;
}

int ResumeSignal() {
    return SIGRTMIN + 5;
}

void SetCurrentThreadRecord(PlatformThread* record) {
    currentRecord = record;
}

PlatformThread* CurrentThreadRecord() {
    return currentRecord;
}

void ResumeFully(PlatformThread& record) {
    if (record.suspendCount.load() == 0) {
        return;
    }
    record.suspendCount.store(0);
    record.resumeRequested.store(true);
    pthread_kill(record.thread, ResumeSignal());
}

// Counted as SuspendThread and ResumeThread count: the thread runs again once every Suspend has
// its Resume.
int Thread::Suspend() {
    if (handle == nullptr || handle->finished.load() || !InstallSuspendHandlers()) {
        return 1;
    }
    if (handle->suspendCount.load() > 0) {
        handle->suspendCount.fetch_add(1);
        return 0;
    }
    if (pthread_kill(handle->thread, SuspendSignal()) != 0 || !AwaitStopped(*handle)) {
        return 1;
    }
    handle->suspendCount.store(1);
    return 0;
}

int Thread::Resume() {
    if (handle == nullptr) {
        return 1;
    }
    if (handle->suspendCount.load() > 1) {
        handle->suspendCount.fetch_sub(1);
        return 0;
    }
    if (handle->suspendCount.load() == 0) {
        return 0;
    }
    handle->resumeRequested.store(true);
    if (pthread_kill(handle->thread, ResumeSignal()) != 0) {
        return 1;
    }
    handle->suspendCount.store(0);
    return 0;
}
