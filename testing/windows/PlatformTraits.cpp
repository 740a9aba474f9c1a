#include "testing/PlatformTraits.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

// An IPv6 stream socket, with Winsock started for it; stopped again by the destructor.
class Ipv6Probe {
public:
    Ipv6Probe() {
        WSADATA data{};
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        sock = started ? socket(AF_INET6, SOCK_STREAM, 0) : INVALID_SOCKET;
    }
    ~Ipv6Probe() {
        if (sock != INVALID_SOCKET) {
            closesocket(sock);
        }
        if (started) {
            WSACleanup();
        }
    }
    Ipv6Probe(const Ipv6Probe&) = delete;
    Ipv6Probe& operator=(const Ipv6Probe&) = delete;

    SOCKET sock = INVALID_SOCKET;

private:
    bool started = false;
};

}  // namespace

bool AcceptTakesResetConnections() {
    return false;
}

bool ReceiveWindowWidens() {
    return false;
}

bool ReadsShowResets() {
    return false;
}

bool ReadinessTellsOnlyData() {
    return false;
}

std::string LocalSocketPath(const std::string& name) {
    return R"(\\.\pipe\)" + name;
}

bool LocalSocketIsAFile() {
    return false;
}

bool HasIpv6Loopback() {
    Ipv6Probe probe;
    if (probe.sock == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    return bind(probe.sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool AllowsDualStack() {
    Ipv6Probe probe;
    const DWORD off = 0;
    return probe.sock != INVALID_SOCKET &&
           setsockopt(probe.sock, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
                      sizeof off) == 0;
}
