#include "net/LocalAddresses.h"

#include "SocketOps.h"

#include <cstring>

namespace {

SocketAddress Ipv4Address(std::uint32_t hostOrder, std::uint16_t port) {
    SocketAddress address;
    address.family = sockets::InetFamily();
    address.port = sockets::HostToNetwork16(port);
    // Network byte order, most significant byte first, whatever the host's order.
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(hostOrder >> 24), static_cast<std::uint8_t>(hostOrder >> 16),
        static_cast<std::uint8_t>(hostOrder >> 8), static_cast<std::uint8_t>(hostOrder)};
    std::memcpy(&address.address, bytes, sizeof bytes);
    return address;
}

}  // namespace

SocketAddress Ipv4LoopbackAddress(std::uint16_t port) {
    return Ipv4Address(0x7f000001u, port);
}

SocketAddress Ipv4AnyAddress(std::uint16_t port) {
    return Ipv4Address(0, port);
}

Ipv6Bytes Ipv6LoopbackAddress() {
    Ipv6Bytes bytes{};
    bytes[15] = 1;
    return bytes;
}
