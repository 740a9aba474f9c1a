#pragma once

#include "sync/Thread.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Reads console lines on a thread of its own, so that waiting for input never holds up the
// program's loop; the loop takes the lines when it is ready for them. The server reads the
// operator's commands with it, the client the lines its user types.
class ConsoleLineReader {
public:
    ConsoleLineReader() = default;
    // The thread may still wait for input; it keeps its own share of the lines and ends with
    // the process, and calls `onLine` no more.
    ~ConsoleLineReader();
    ConsoleLineReader(const ConsoleLineReader&) = delete;
    ConsoleLineReader& operator=(const ConsoleLineReader&) = delete;

    // Starts reading `in`, calling `onLine` (when given) on the reader's thread after each line,
    // so that a loop waiting for work takes it at once. Of a line longer than `keptLength` only
    // its start is kept. 1 when the thread cannot be started or this reader already reads.
    int Start(std::FILE* in, std::function<void()> onLine = {}, std::size_t keptLength = SIZE_MAX);
    // The lines read since the last call, oldest first, without their ends.
    std::vector<std::string> TakeLines();
    // True once the input has ended and every line has been taken.
    bool Ended();

    struct Lines;

private:
    std::shared_ptr<Lines> lines;
    Thread reader;
};
