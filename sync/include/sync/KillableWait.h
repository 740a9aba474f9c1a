#pragma once

// Marks, for the life of a scope, a wait of the library in which Thread::Kill may end the
// calling thread: a sleep, a receive, a poll, a connect. The scope holds nothing but the wait
// itself, so that ending the thread there leaves no lock held and nothing half done. On Windows
// Kill ends a thread anywhere and this marks nothing.
class KillableWait {
public:
    // Ends the thread at once when a Kill is already pending for it. With `waits` false the
    // scope marks nothing: a call that only looks (a zero timeout) is no wait.
    explicit KillableWait(bool waits = true);
    ~KillableWait();
    KillableWait(const KillableWait&) = delete;
    KillableWait& operator=(const KillableWait&) = delete;

private:
    bool marked = false;
};
