#include "testing/MemoryConsole.h"

#include <string>

// Windows has no stream in memory: the kept console is a temporary file, read back whole.
MemoryConsole::MemoryConsole(Kind kind) {
    stream = kind == Kind::Kept ? std::tmpfile() : std::fopen("NUL", "w");
}

MemoryConsole::~MemoryConsole() {
    if (stream != nullptr) {
        std::fclose(stream);
    }
}

std::string MemoryConsole::Text() {
    if (stream == nullptr) {
        return {};
    }
    std::fflush(stream);
    const long end = std::ftell(stream);
    if (end <= 0 || std::fseek(stream, 0, SEEK_SET) != 0) {
        return {};
    }
    std::string kept(static_cast<std::size_t>(end), '\0');
    kept.resize(std::fread(kept.data(), 1, kept.size(), stream));
    std::fseek(stream, 0, SEEK_END);
    return kept;
}
