#include "tools/client/HostCheck.h"

#include "net/NetSocket.h"

#include <cstring>

std::string HostProblem(const char* host) {
    const std::string text(host);
    // No IPv4 address or host name holds a colon.
    if (std::strchr(host, ':') != nullptr) {
        return "IPv6 addresses such as " + text +
               " are not supported yet; give an IPv4 address or a host name";
    }
    if (!NetSocket::HostIsKnown(host)) {
        return "the host " + text + " cannot be found";
    }
    return std::string();
}
