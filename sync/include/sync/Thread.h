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
    // not make. On Linux a thread may always lower its priority, but raising it again (back to
    // Normal after a lower level included) needs CAP_SYS_NICE or an RLIMIT_NICE that allows the
    // nice value: without them the call returns 1 and the thread keeps its level.
    int SetPriority(int priority);
    // Counted as Windows counts them: the thread stops at the first Suspend (which returns once
    // it has stopped) and runs again once each Suspend has had its Resume. Resume on a thread
    // that is not suspended does nothing and returns 0.
    int Suspend();
    int Resume();
    // Ends the thread without running anything more of its body (no destructors, so a lock it
    // holds stays held: a thread that can be told to return is stopped with Join instead), and
    // releases the handle. Windows ends the thread wherever it is. POSIX ends it only inside
    // one of the library's waits (SleepMilliseconds, a waiting receive, poll or connect, a
    // receiver thread's wait; see KillableWait), also when that wait is inside a destructor or
    // a noexcept function; a thread that is elsewhere, busy or in a wait of its own, ends at
    // its next wait in the library (a system call it is making then fails with EINTR).
    // Returns 0 once the thread has ended, 1 when it has not ended within a second (it then
    // ends by itself at its next library wait, or never if it reaches none); the handle is
    // released either way. 0 when there is no thread.
    int Kill();
    // Waits for the thread's body to return, then releases the handle. 0 when there is no
    // thread.
    int Join();
    bool IsRunning() const { return handle != nullptr; }

private:
    PlatformThread* handle = nullptr;
};
