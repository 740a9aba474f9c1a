#pragma once

#include "sync/Mutex.h"
#include "sync/Thread.h"

#include <cstdio>
#include <deque>
#include <string>

// Reads lines from a stream on a thread of its own, so that the caller can wait for lines and
// for the network at once. The thread ends at the end of the input; one still waiting for a
// line when the program ends goes with the process.
class LineReader {
public:
    explicit LineReader(std::FILE* source) : input(source) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    void Start();
    // Takes the oldest unread line, without its newline; false when none is waiting.
    bool TakeLine(std::string& line);
    // True once the input has ended and every line has been taken.
    bool Finished();

private:
    static void ReadLines(void* self);

    std::FILE* input;
    Mutex lock;
    std::deque<std::string> lines;
    bool ended = false;
    Thread reader;
};
