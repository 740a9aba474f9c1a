#pragma once

#include "net/RawStream.h"
#include "net/SocketAddress.h"
#include "net/SocketHandle.h"

#include <cstdint>

// A non-blocking TCP listener whose connections are taken as raw streams. While it is open,
// nobody else can listen on its port.
class RawListener {
public:
    RawListener();
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    // Listens on `local` (port 0: one the system chooses) with room for `backlog` waiting
    // connections, closing what it listened on before. False when it could not.
    bool Open(const SocketAddress& local, int backlog);
    bool IsOpen() const { return sock != sockets::INVALID_SOCKET_HANDLE; }
    // The port it listens on, or 0.
    std::uint16_t Port() const;
    // Waits up to `waitMs` for a waiting connection and takes it into `stream`, open and
    // non-blocking; false when none came.
    bool Accept(RawStream& stream, int waitMs = 0);
    void Close();

private:
    sockets::SocketHandle sock = sockets::INVALID_SOCKET_HANDLE;
};
