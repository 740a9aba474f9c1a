#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// A console stream for a relay running in this process: it keeps what is printed in memory,
// or throws it away.
class MemoryConsole {
public:
    enum class Kind { Kept, Discarded };

    explicit MemoryConsole(Kind kind);
    ~MemoryConsole();
    MemoryConsole(const MemoryConsole&) = delete;
    MemoryConsole& operator=(const MemoryConsole&) = delete;

    // Null when the stream could not be opened.
    std::FILE* Stream() const { return stream; }
    // Everything printed so far; empty when discarded.
    std::string Text();

private:
    std::FILE* stream = nullptr;
    char* text = nullptr;
    std::size_t size = 0;
};
