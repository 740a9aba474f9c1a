#pragma once

#include "net/RawStream.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A loopback TCP connection on a raw stream, for a player that misbehaves on purpose: it writes
// exactly the bytes it is given, half-closes, resets and stops reading at will. Nothing waits:
// connecting, writing and reading all return at once.
class RawConnection {
public:
    enum class Status { Open, Waiting, Ended, Failed };

    // Starts connecting to 127.0.0.1 `port` with a receive window of about `windowBytes`, so that
    // a reader that stops fills the server's output soon. False when no socket could be made.
    bool Start(std::uint16_t port, int windowBytes);
    // Open once the connection is made; Waiting while it is being made; Failed when refused.
    Status Connect();
    // The bytes the socket took now (maybe 0), or -1 when the connection has failed.
    long Write(const void* data, std::size_t length);
    // Appends up to `most` pending bytes to `into`. Ended after the peer's orderly close, Failed
    // after a reset, otherwise Open.
    Status Read(std::string& into, std::size_t most);
    // Sends a FIN and goes on reading.
    void ShutdownSending();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();
    void Close();
    bool IsOpen() const { return stream.IsOpen(); }

private:
    RawStream stream;
};

// A loopback TCP port that was free a moment ago, or 0.
std::uint16_t FreeLoopbackPort();
