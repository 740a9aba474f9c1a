#include "program/ConsoleLineReader.h"

#include "program/ConsoleInput.h"
#include "sync/Mutex.h"

#include <new>
#include <utility>

struct ConsoleLineReader::Lines {
    std::FILE* in = nullptr;
    std::size_t keptLength = SIZE_MAX;
    Mutex lock;
    std::vector<std::string> waiting;
    bool ended = false;
    // Called after each line while the reader's owner lives.
    std::function<void()> onLine;
};

namespace {

// The thread's body; `parameter` is a heap copy of the shared pointer, which the thread owns.
void ReadLines(void* parameter) {
    auto* handed = static_cast<std::shared_ptr<ConsoleLineReader::Lines>*>(parameter);
    const std::shared_ptr<ConsoleLineReader::Lines> lines = std::move(*handed);
    delete handed;
    while (std::optional<std::string> line = ReadConsoleLine(lines->in, lines->keptLength)) {
        MutexGuard guard(lines->lock);
        lines->waiting.push_back(std::move(*line));
        if (lines->onLine) {
            lines->onLine();
        }
    }
    MutexGuard guard(lines->lock);
    lines->ended = true;
}

}  // namespace

ConsoleLineReader::~ConsoleLineReader() {
    if (lines) {
        MutexGuard guard(lines->lock);
        lines->onLine = nullptr;
    }
}

int ConsoleLineReader::Start(std::FILE* in, std::function<void()> onLine, std::size_t keptLength) {
    if (lines) {
        return 1;
    }
    lines = std::make_shared<Lines>();
    lines->in = in;
    lines->keptLength = keptLength;
    lines->onLine = std::move(onLine);
    auto* handed = new (std::nothrow) std::shared_ptr<Lines>(lines);
    if (handed == nullptr) {
        return 1;
    }
    reader.Start(ReadLines, handed);
    if (!reader.IsRunning()) {
        delete handed;
        return 1;
    }
    return 0;
}

std::vector<std::string> ConsoleLineReader::TakeLines() {
    std::vector<std::string> taken;
    if (lines) {
        MutexGuard guard(lines->lock);
        taken.swap(lines->waiting);
    }
    return taken;
}

bool ConsoleLineReader::Ended() {
    if (!lines) {
        return true;
    }
    MutexGuard guard(lines->lock);
    return lines->ended && lines->waiting.empty();
}
