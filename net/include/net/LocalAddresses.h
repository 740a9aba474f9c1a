#pragma once

#include "net/Ipv6Text.h"
#include "net/SocketAddress.h"

#include <cstdint>

// Socket addresses of this host, for listeners and for clients of a local server.
SocketAddress Ipv4LoopbackAddress(std::uint16_t port);
// Every local IPv4 interface.
SocketAddress Ipv4AnyAddress(std::uint16_t port);
// ::1.
Ipv6Bytes Ipv6LoopbackAddress();
