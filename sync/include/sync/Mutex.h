#pragma once

struct PlatformMutex;

// A recursive mutex: the owning thread may lock it again and must unlock it as often.
class Mutex {
public:
    // Names are accepted for callers that label their mutexes; the POSIX build keeps every
    // mutex private to its process and does not use the name.
    explicit Mutex(const char* name = nullptr);
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int Lock();
    int Unlock();
    // True exactly when another thread owns the mutex; never waits.
    bool IsLocked();

private:
    PlatformMutex* handle;
};

// Holds a Mutex for the life of a scope, so that no path can leave it locked.
class MutexGuard {
public:
    explicit MutexGuard(Mutex& held) : mutex(held) { mutex.Lock(); }
    ~MutexGuard() { mutex.Unlock(); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    Mutex& mutex;
};
