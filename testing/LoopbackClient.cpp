#include "testing/LoopbackClient.h"

#include <chrono>

// What the client does without a platform call of its own; the calls are in posix/ and windows/.

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

LoopbackClient::LoopbackClient(std::uint16_t port, Window window) {
    Connect(port, window);
}

LoopbackClient::~LoopbackClient() {
    Close();
}

bool LoopbackClient::SendAtOnce(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const std::size_t taken = SendWithoutWaiting(bytes.data() + sent, bytes.size() - sent);
        if (taken == 0) {
            return false;
        }
        sent += taken;
    }
    return true;
}

std::optional<Frame> LoopbackClient::ReadFrame(int timeoutMs) {
    auto bytes = ReadExactly(4, timeoutMs);
    const auto value = bytes ? ReadExactly((*bytes)[3], timeoutMs) : std::nullopt;
    if (!value) {
        return std::nullopt;
    }
    bytes->insert(bytes->end(), value->begin(), value->end());
    Frame frame;
    DecodeTestFrame(bytes->data(), bytes->size(), frame);
    return frame;
}

std::optional<std::uint16_t> LoopbackClient::ReadGreeting(int timeoutMs) {
    const auto first = ReadFrame(timeoutMs);
    const auto second = ReadFrame(timeoutMs);
    if (!first || !second) {
        return std::nullopt;
    }
    return first->target;
}

std::vector<std::uint8_t> LoopbackClient::ReadUntilClosed(int timeoutMs, bool& ended,
                                                          bool* inOrder) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes;
    ended = false;
    while (Clock::now() < deadline) {
        if (!ReadAvailable(bytes, inOrder)) {
            ended = true;
            break;
        }
        WaitReadable(50);
    }
    return bytes;
}
