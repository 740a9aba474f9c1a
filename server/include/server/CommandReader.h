#pragma once

#include "sync/Thread.h"

class WakeSignal;
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Reads the operator's command lines on a thread of its own, so that waiting for input never
// holds up a pass; the main loop takes the lines between passes.
class CommandReader {
public:
    CommandReader() = default;
    // The thread may still wait for input; it keeps its own share of the lines and ends with
    // the process, and raises the wake signal no more.
    ~CommandReader();
    CommandReader(const CommandReader&) = delete;
    CommandReader& operator=(const CommandReader&) = delete;

    // Starts reading `in`, raising `wake` (when given) after each line, so that a loop waiting
    // for work takes it at once. 1 when the thread cannot be started.
    int Start(std::FILE* in, const WakeSignal* wake = nullptr);
    // The lines read since the last call, oldest first.
    std::vector<std::string> TakeLines();
    // True once the input has ended and every line has been taken.
    bool Ended();

    struct Lines;

private:
    std::shared_ptr<Lines> lines;
    Thread reader;
};
