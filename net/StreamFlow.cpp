#include "net/StreamFlow.h"

#include <algorithm>

std::size_t StreamFlow::ReceiveRoom(std::size_t buffered, std::size_t largest) const {
    if (receiveLimit == 0) {
        return largest;
    }
    return buffered >= receiveLimit ? 0 : std::min(largest, receiveLimit - buffered);
}

bool StreamFlow::InputFull(std::size_t buffered) const {
    return receiveLimit != 0 && buffered >= receiveLimit;
}

std::size_t StreamFlow::NextWrite(std::size_t rest) const {
    return writeLimit == 0 ? rest : std::min(rest, writeLimit);
}

bool StreamFlow::WouldPassLimit(std::size_t length) const {
    return keptOutput.Size() + length > KEPT_OUTPUT_LIMIT;
}

bool StreamFlow::KeepOutput(const void* data, std::size_t length) {
    if (WouldPassLimit(length)) {
        fellBehind = true;
        Fail();
        return false;
    }
    keptOutput.Append(data, length);
    return true;
}

void StreamFlow::Fail() {
    failed = true;
    keptOutput.Clear();
}

void StreamFlow::Restart() {
    keptOutput.Clear();
    failed = false;
    fellBehind = false;
}
