#include "testing/LoopbackClient.h"

#include <algorithm>
#include <chrono>

// What the client does without a platform call of its own; the calls are in posix/ and windows/.

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::vector<std::uint8_t> EncodeTestFrame(std::uint8_t id, std::uint16_t target,
                                          std::string_view value) {
    std::vector<std::uint8_t> frame(4 + value.size());
    frame[0] = id;
    frame[1] = static_cast<std::uint8_t>(target & 0xFF);
    frame[2] = static_cast<std::uint8_t>(target >> 8);
    frame[3] = static_cast<std::uint8_t>(value.size());
    std::copy(value.begin(), value.end(), frame.begin() + 4);
    return frame;
}

std::size_t DecodeTestFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame) {
    if (size < 4 || size < 4u + bytes[3]) {
        return 0;
    }
    frame.id = bytes[0];
    frame.target = static_cast<std::uint16_t>(bytes[1] | bytes[2] << 8);
    frame.value.assign(reinterpret_cast<const char*>(bytes + 4), bytes[3]);
    return 4u + bytes[3];
}

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
    const auto header = ReadExactly(4, timeoutMs);
    if (!header) {
        return std::nullopt;
    }
    Frame frame;
    frame.id = (*header)[0];
    frame.target = static_cast<std::uint16_t>((*header)[1] | ((*header)[2] << 8));
    const std::size_t length = (*header)[3];
    if (length > 0) {
        const auto value = ReadExactly(length, timeoutMs);
        if (!value) {
            return std::nullopt;
        }
        frame.value.assign(value->begin(), value->end());
    }
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
