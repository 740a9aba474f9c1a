#pragma once

#include <cstdint>

// The platform's socket as NetSocket holds it: an opaque number, so that this header and
// NetSocket.h stay free of the platform's socket layer.
namespace sockets {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;

// A channel that wakes a thread waiting for input on a socket.
struct WakeChannel {
    SocketHandle readEnd = INVALID_SOCKET_HANDLE;
    SocketHandle writeEnd = INVALID_SOCKET_HANDLE;
};

}  // namespace sockets
