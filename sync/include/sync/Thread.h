#pragma once

struct PlatformThread;

// One platform thread. A thread is not stopped from outside: whoever calls Kill must first have
// told the thread's body to return (NetSocket wakes its receiver for that), and Kill waits.
class Thread {
public:
    using Entry = void (*)(void* parameter);

    Thread() = default;
    // Releases the handle; a thread that still runs goes on by itself.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts entry(parameter) at once; a thread that cannot be created is ignored.
    int Start(Entry entry, void* parameter);
    // Asks the scheduler for this priority; a refused request is ignored.
    int SetPriority(int priority);
    // POSIX threads cannot be suspended or resumed by another thread: these do nothing there.
    int Suspend();
    int Resume();
    // Waits for the thread's body to return, then releases the handle. Safe to repeat.
    int Kill();
    bool IsRunning() const { return handle != nullptr; }

private:
    PlatformThread* handle = nullptr;
};
