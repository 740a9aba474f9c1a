#pragma once

#include "protocol/Frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::vector<std::uint8_t> EncodeTestFrame(std::uint8_t id, std::uint16_t target,
                                          std::string_view value);

// Connects the TCP socket `fd` to `port` on loopback: `fd` when connected; otherwise the socket
// is closed and the result is -1 (as it is for an `fd` of -1).
int ConnectToLoopback(int fd, std::uint16_t port);

// A plain loopback TCP client on the platform's own calls, so that tests look at the server
// from outside, as a real player would.
class TestClient {
public:
    explicit TestClient(std::uint16_t port);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const { return fd >= 0; }
    bool SendBytes(const void* data, std::size_t length);
    bool SendBytes(const std::vector<std::uint8_t>& bytes) {
        return SendBytes(bytes.data(), bytes.size());
    }
    // Sends what the socket takes within `waitMs`, without blocking past it: the count sent
    // (0 when the socket stayed full), or -1 when the connection has failed.
    long SendWithin(const void* data, std::size_t length, int waitMs);
    bool SendFrame(std::uint8_t id, std::uint16_t target, std::string_view value) {
        return SendBytes(EncodeTestFrame(id, target, value));
    }
    // Exactly `length` bytes, or none when they do not all arrive within the time.
    std::optional<std::vector<std::uint8_t>> ReadExactly(std::size_t length, int timeoutMs = 3000);
    std::optional<Frame> ReadFrame(int timeoutMs = 3000);
    // True when no byte arrives within `waitMs`.
    bool NothingArrives(int waitMs = 300);
    // True when the server closes the connection within the time.
    bool ClosedByPeer(int timeoutMs = 3000);
    // The greeting frames: the player id the server gave, or none.
    std::optional<std::uint16_t> ReadGreeting(int timeoutMs = 3000);

    void ShutdownWrite();
    // Closes with a reset instead of an orderly close.
    void Reset();
    void Close();
    // Makes the socket's receive window small, for clients that stop reading.
    void SetReceiveBufferSize(int bytes);
    // Sends each small write at once, so that a frame written in pieces travels in pieces.
    void EnableNoDelay();
    int Descriptor() const { return fd; }

private:
    int fd = -1;
};
