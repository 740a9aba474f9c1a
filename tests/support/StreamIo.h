#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Non-blocking reads and writes on a test client's descriptor, for clients that push more than
// the server takes at once or read while they write.

// A loopback client that asks for small segments and a small receive window before it
// connects, so that the server's socket can hold little for it and a client that stops reading
// soon shows in the server's own kept output.
class NarrowClient {
public:
    explicit NarrowClient(std::uint16_t port);
    ~NarrowClient();
    NarrowClient(const NarrowClient&) = delete;
    NarrowClient& operator=(const NarrowClient&) = delete;
    int Descriptor() const { return fd; }

private:
    int fd = -1;
};

// Bytes the socket took without waiting; 0 when it is full or the connection has failed.
std::size_t SendWithoutWaiting(int fd, const void* data, std::size_t length);
bool WaitWritable(int fd, int timeoutMs);
// Appends what has arrived; false once the connection has ended. `inOrder`, when given, tells
// whether that end was an orderly close rather than a reset.
bool ReadAvailable(int fd, std::vector<std::uint8_t>& into, bool* inOrder = nullptr);
// Everything up to the end of the connection; `ended` says whether the end came in time.
std::vector<std::uint8_t> ReadUntilClosed(int fd, int timeoutMs, bool& ended,
                                          bool* inOrder = nullptr);
