#include "tools/client/HostCheck.h"

#include "net/Ipv6Text.h"
#include "net/NetSocket.h"

#include <cstring>

std::string HostProblem(const char* host) {
    const std::string text(host);
    // No IPv4 address or host name holds a colon.
    if (std::strchr(host, ':') != nullptr) {
        Ipv6Bytes address{};
        return ParseIpv6Text(host, address)
                   ? std::string()
                   : text + " is not an IPv6 address; give an IPv4 or IPv6 address or a host name";
    }
    if (!NetSocket::HostIsKnown(host)) {
        return "the host " + text + " cannot be found";
    }
    return std::string();
}
