#pragma once

#include "net/RawStream.h"
#include "protocol/Frame.h"
#include "testing/TestFrames.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// A plain loopback TCP client on a raw stream, so that the tests and the fuzzer look at the
// server from outside, as a real player would. Reads and writes wait only where
// they say so: the reads and waits within their bound, SendBytes and Connect as long as the
// kernel does.
class LoopbackClient {
public:
    // How the connection is set up before it is made.
    enum class Window {
        Default,
        // Small segments and a small receive window, so that the server's socket holds little
        // for this client and a client that stops reading soon shows in the server's kept
        // output.
        Narrow,
    };

    LoopbackClient() = default;
    // Connects at once; Connected() tells whether it did.
    explicit LoopbackClient(std::uint16_t port, Window window = Window::Default);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Connects to 127.0.0.1:port, ending any connection it had with a reset. A signal cannot
    // cut the connect short.
    bool Connect(std::uint16_t port, Window window = Window::Default);
    // Connects to [::1]:port instead, the same way.
    bool ConnectIpv6(std::uint16_t port);
    bool Connected() const { return stream.IsOpen(); }
    // The client's own port, which names the connection on the server's side.
    std::uint16_t LocalPort() const { return stream.LocalPort(); }

    // Sends every byte, waiting while the socket is full; false when the connection failed.
    bool SendBytes(const void* data, std::size_t length);
    bool SendBytes(const std::vector<std::uint8_t>& bytes) {
        return SendBytes(bytes.data(), bytes.size());
    }
    bool SendFrame(std::uint8_t id, std::uint16_t target, std::string_view value) {
        return SendBytes(EncodeTestFrame(id, target, value));
    }
    // True when the socket took every byte without waiting.
    bool SendAtOnce(const std::vector<std::uint8_t>& bytes);
    // Bytes the socket took without waiting; 0 when it is full or the connection has failed.
    std::size_t SendWithoutWaiting(const void* data, std::size_t length);
    // Sends what the socket takes within `waitMs`, without blocking past it: the count sent
    // (0 when the socket stayed full), or -1 when the connection has failed.
    long SendWithin(const void* data, std::size_t length, int waitMs);
    bool WaitWritable(int timeoutMs);

    // Exactly `length` bytes, or none when they do not all arrive within the time.
    std::optional<std::vector<std::uint8_t>> ReadExactly(std::size_t length, int timeoutMs = 3000);
    std::optional<Frame> ReadFrame(int timeoutMs = 3000);
    // The greeting frames: the player id the server gave, or none.
    std::optional<std::uint16_t> ReadGreeting(int timeoutMs = 3000);
    // Appends what has arrived; false once the connection has ended. `inOrder`, when given,
    // tells whether that end was an orderly close rather than a reset.
    bool ReadAvailable(std::vector<std::uint8_t>& into, bool* inOrder = nullptr);
    // Everything up to the end of the connection; `ended` says whether the end came in time.
    std::vector<std::uint8_t> ReadUntilClosed(int timeoutMs, bool& ended, bool* inOrder = nullptr);
    // Waits up to `timeoutMs` for something to read or the end of the connection.
    bool WaitReadable(int timeoutMs);
    // True when no byte arrives within `waitMs`.
    bool NothingArrives(int waitMs = 300);
    // True when the server closes the connection within the time.
    bool ClosedByPeer(int timeoutMs = 3000);

    void ShutdownWrite();
    // Closes with a reset instead of an orderly close, so that the server sees a reset and no
    // connection waits out TIME_WAIT.
    void Reset();
    void Close();
    // Makes the socket's receive window small, for clients that stop reading.
    void SetReceiveBufferSize(int bytes);
    // Sends each small write at once, so that a frame written in pieces travels in pieces.
    void EnableNoDelay();

private:
    // Connects the stream once started; false, with the stream closed, when it did not.
    bool FinishConnect(bool started);

    RawStream stream;
};
