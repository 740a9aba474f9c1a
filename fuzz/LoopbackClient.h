#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A non-blocking loopback TCP client for the harness. Its connection ends with a reset, so that
// thousands of runs leave no connections waiting out TIME_WAIT.
class LoopbackClient {
public:
    LoopbackClient() = default;
    ~LoopbackClient() { Reset(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Connects to 127.0.0.1:port (the handshake completes on loopback at once), then switches
    // to non-blocking mode with small writes sent at once. A narrow client has a small receive
    // buffer and asks for small segments, which also keeps the server end's send buffer small.
    bool Connect(std::uint16_t port, bool narrow);
    bool IsOpen() const { return fd >= 0; }
    std::uint16_t LocalPort() const { return localPort; }
    // True when every byte was taken by the socket.
    bool Write(const std::vector<std::uint8_t>& bytes);
    enum class ReadState { Open, Ended };
    // Appends what has arrived; Ended once the server has closed the connection.
    ReadState ReadAvailable(std::vector<std::uint8_t>& into);
    // Waits up to `milliseconds` for something to read or the end of the connection.
    bool WaitReadable(int milliseconds);
    void ShutdownWrite();
    // Closes with SO_LINGER 0: the server sees a reset.
    void Reset();

private:
    int fd = -1;
    std::uint16_t localPort = 0;
};
