#pragma once

#include "sync/Thread.h"

#include <pthread.h>
#include <semaphore.h>
#include <setjmp.h>
#include <sys/types.h>

#include <atomic>
#include <ctime>

// What the controlling Thread and the running thread share. Both own it; the last of them to
// let go frees it, so that a thread that outlives its Thread object still finds it.
struct PlatformThread {
    pthread_t thread{};
    Thread::Entry entry = nullptr;
    void* parameter = nullptr;
    // The kernel's id of the thread, for its nice value; set before `started` is posted.
    pid_t taskId = 0;
    sem_t started;
    // Posted by the thread once a suspend request has stopped it.
    sem_t stopped;
    // How many Suspends are not yet undone by a Resume; the thread runs only at 0.
    std::atomic<int> suspendCount{0};
    std::atomic<bool> resumeRequested{false};
    // Where a Kill takes the thread: back to the start of its body, which then ends it.
    sigjmp_buf killJump;
    std::atomic<bool> killRequested{false};
    // Above 0 while the thread is inside a KillableWait.
    std::atomic<int> killableDepth{0};
    std::atomic<bool> finished{false};
    std::atomic<int> owners{2};
};

// The CLOCK_REALTIME time `milliseconds` from now, for the timed waits.
timespec DeadlineAfter(long milliseconds);

// Drops one owner's share; the last one frees the record.
void ReleasePlatformThread(PlatformThread* record);

// Installs the signal handlers that suspend and resume threads; false when they cannot be.
bool InstallSuspendHandlers();
// The signal that stops a thread until it is resumed.
int SuspendSignal();
int ResumeSignal();
// Undoes every Suspend still in force.
void ResumeFully(PlatformThread& record);
// Marks the calling thread as the one `record` describes, for the signal handlers.
void SetCurrentThreadRecord(PlatformThread* record);
// The record of the calling thread; null for a thread that Thread did not start.
PlatformThread* CurrentThreadRecord();

// Installs the handler of the kill signal; false when it cannot be.
bool InstallKillHandler();
// The signal that ends a thread waiting in a KillableWait.
int KillSignal();
