#include "server/CommandReader.h"

#include "net/WakeSignal.h"
#include "server/ConsoleInput.h"
#include "sync/Mutex.h"

#include <new>
#include <utility>

struct CommandReader::Lines {
    std::FILE* in = nullptr;
    Mutex lock;
    std::vector<std::string> waiting;
    bool ended = false;
    // Raised after each line while the reader's owner lives.
    const WakeSignal* wake = nullptr;
};

namespace {

// The thread's body; `parameter` is a heap copy of the shared pointer, which the thread owns.
void ReadLines(void* parameter) {
    auto* handed = static_cast<std::shared_ptr<CommandReader::Lines>*>(parameter);
    const std::shared_ptr<CommandReader::Lines> lines = std::move(*handed);
    delete handed;
    while (std::optional<std::string> line = ReadConsoleLine(lines->in)) {
        MutexGuard guard(lines->lock);
        lines->waiting.push_back(std::move(*line));
        if (lines->wake != nullptr) {
            lines->wake->Raise();
        }
    }
    MutexGuard guard(lines->lock);
    lines->ended = true;
}

}  // namespace

CommandReader::~CommandReader() {
    if (lines) {
        MutexGuard guard(lines->lock);
        lines->wake = nullptr;
    }
}

int CommandReader::Start(std::FILE* in, const WakeSignal* wake) {
    if (lines) {
        return 1;
    }
    lines = std::make_shared<Lines>();
    lines->in = in;
    lines->wake = wake;
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

std::vector<std::string> CommandReader::TakeLines() {
    std::vector<std::string> taken;
    if (lines) {
        MutexGuard guard(lines->lock);
        taken.swap(lines->waiting);
    }
    return taken;
}

bool CommandReader::Ended() {
    if (!lines) {
        return true;
    }
    MutexGuard guard(lines->lock);
    return lines->ended && lines->waiting.empty();
}
