#pragma once

#include "sync/Thread.h"

#include <pthread.h>
#include <semaphore.h>
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
    std::atomic<bool> suspended{false};
    std::atomic<bool> resumeRequested{false};
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
// Marks the calling thread as the one `record` describes, for the suspend handler.
void SetCurrentThreadRecord(PlatformThread* record);
