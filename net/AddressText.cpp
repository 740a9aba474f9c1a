#include "SocketOps.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace sockets {

std::uint16_t HostToNetwork16(std::uint16_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::uint16_t>((value >> 8) | (value << 8));
    }
    return value;
}

std::uint16_t NetworkToHost16(std::uint16_t value) {
    return HostToNetwork16(value);
}

std::string AddressToText(std::uint32_t address) {
    // In network byte order the first byte in memory is the first number of the text.
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return std::string(text);
}

}  // namespace sockets
