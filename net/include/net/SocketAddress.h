#pragma once

#include <cstdint>

// An IPv4 socket address laid out as the platform's 16-byte record: family, port and address in
// network byte order, then eight zero bytes.
struct SocketAddress {
    std::uint16_t family = 0;
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    std::uint8_t zero[8] = {};
};

static_assert(sizeof(SocketAddress) == 16);
