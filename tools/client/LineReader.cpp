#include "tools/client/LineReader.h"

#include <cstddef>

namespace {

constexpr std::size_t MAX_KEPT_LINE = 4096;

}  // namespace

void LineReader::Start() {
    reader.Start(&LineReader::ReadLines, this);
}

bool LineReader::TakeLine(std::string& line) {
    MutexGuard guard(lock);
    if (lines.empty()) {
        return false;
    }
    line = std::move(lines.front());
    lines.pop_front();
    return true;
}

bool LineReader::Finished() {
    MutexGuard guard(lock);
    return ended && lines.empty();
}

void LineReader::ReadLines(void* self) {
    auto* owner = static_cast<LineReader*>(self);
    std::string line;
    for (;;) {
        const int character = std::fgetc(owner->input);
        if (character == EOF) {
            break;
        }
        if (character != '\n') {
            // A line this long is rejected anyway; keeping its start is enough to say so.
            if (line.size() < MAX_KEPT_LINE) {
                line += static_cast<char>(character);
            }
            continue;
        }
        MutexGuard guard(owner->lock);
        owner->lines.push_back(std::move(line));
        line.clear();
    }
    MutexGuard guard(owner->lock);
    if (!line.empty()) {
        owner->lines.push_back(std::move(line));
    }
    owner->ended = true;
}
