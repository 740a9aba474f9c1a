#include "tests/net/NetTestSupport.h"

#include <chrono>

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        SleepMilliseconds(1);
    }
    return true;
}

bool ReceiveAtLeast(NetSocket& endpoint, std::uint32_t count, int timeoutMs) {
    return WaitFor(
        [&] {
            endpoint.Receive(false);
            return endpoint.BufferedBytes() >= count;
        },
        timeoutMs);
}

std::string TakeAll(NetSocket& endpoint) {
    std::string text(endpoint.BufferedBytes(), '\0');
    if (endpoint.Read(text.data(), static_cast<std::uint32_t>(text.size())) != 0) {
        return std::string();
    }
    return text;
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

bool DatagramPair::Open(int receiverFlags) {
    return receiver.Open(receiverFlags, 0, nullptr) == 0 && sender.Open(NS_UDP, 0, nullptr) == 0;
}

int DatagramPair::Send(const void* data, int length, const char* host) {
    return sender.Send(data, length, receiver.LocalPort(), host);
}

std::unique_ptr<NetSocket> AcceptOne(NetSocket& listener) {
    std::unique_ptr<NetSocket> accepted;
    WaitFor([&] {
        accepted.reset(listener.Accept());
        return accepted != nullptr;
    });
    return accepted;
}

bool LoopbackPair::Connect(int listenerFlags, int clientFlags) {
    if (listener.Open(listenerFlags, 0, nullptr) != 0) {
        return false;
    }
    if (client.Open(clientFlags, listener.LocalPort(), "127.0.0.1") != 0) {
        return false;
    }
    accepted = AcceptOne(listener);
    return accepted != nullptr;
}
