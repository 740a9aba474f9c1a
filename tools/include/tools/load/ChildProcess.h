#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A program the tool starts, with its standard input and output on pipes (its input stays open
// and empty). The destructor ends it, by its process id, if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False when the program could not be started; StartFailure then says why.
    bool Start(const std::string& path, const std::vector<std::string>& arguments);
    // The system's reason why the latest Start failed.
    const std::string& StartFailure() const { return startFailure; }
    // Appends what the program has written since the last call, without waiting.
    void ReadOutput(std::string& into);
    // True once the program has ended; `status` is its exit status, or 128 plus the signal that
    // ended it.
    bool Ended(int& status);
    // Ends the program, by its process id, and waits for it; nothing when it has ended.
    void Stop();
    long Pid() const { return pid; }

private:
    long pid = -1;
    // The process's handle, on a platform that waits on one (Windows); 0 elsewhere.
    [[maybe_unused]] std::intptr_t process = 0;
    int input = -1;
    int output = -1;
    bool ended = false;
    int endStatus = 0;
    std::string startFailure;
};

// The resident memory of process `pid` in KiB, or -1 when it cannot be read (it has gone).
long ResidentKib(long pid);

// The processor time, user and system, that process `pid` has used so far in microseconds, or
// -1 when it cannot be read (it has gone).
std::int64_t ProcessorMicros(long pid);
