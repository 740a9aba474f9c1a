#pragma once

struct PlatformThread;

// The priority levels SetPriority takes, as Windows numbers them; POSIX builds map each onto a
// nice value of the thread.
struct ThreadPriority {
    static constexpr int Idle = -15;
    static constexpr int Lowest = -2;
    static constexpr int BelowNormal = -1;
    static constexpr int Normal = 0;
    static constexpr int AboveNormal = 1;
    static constexpr int Highest = 2;
    static constexpr int TimeCritical = 15;
};

// One platform thread, driven by one controlling thread. Operations return 0 on success and 1
// when the platform refused or there is no thread to act on.
class Thread {
public:
    using Entry = void (*)(void* parameter);

    Thread() = default;
    // Releases the handle; a thread that still runs goes on by itself (resumed if suspended).
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts entry(parameter) at once. 1 when this Thread already holds a thread or none could
    // be created.
    int Start(Entry entry, void* parameter);
    // One of the ThreadPriority levels; 1 for any other value and for a change the process may
    // not make.
    int SetPriority(int priority);
    // Returns once the thread has stopped; it stays stopped until Resume.
    int Suspend();
    int Resume();
    // Ends the thread wherever it waits (a sleep, a receive, a poll) and releases the handle.
    // The thread gets no chance to tidy up, so it may leave a lock held: a thread that can be
    // told to return is stopped with Join instead. 1 when the thread could not be ended at once;
    // the handle is released all the same. 0 when there is no thread.
    int Kill();
    // Waits for the thread's body to return, then releases the handle. 0 when there is no
    // thread.
    int Join();
    bool IsRunning() const { return handle != nullptr; }

private:
    PlatformThread* handle = nullptr;
};
