#include "testing/MemoryConsole.h"

#include <cstdlib>

MemoryConsole::MemoryConsole(Kind kind) {
    stream = kind == Kind::Kept ? open_memstream(&text, &size) : std::fopen("/dev/null", "w");
}

MemoryConsole::~MemoryConsole() {
    if (stream != nullptr) {
        std::fclose(stream);
    }
    std::free(text);
}

std::string MemoryConsole::Text() {
    if (stream == nullptr || text == nullptr) {
        return {};
    }
    std::fflush(stream);
    return std::string(text, size);
}
