#include "testing/PlatformTraits.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <filesystem>

bool AcceptTakesResetConnections() {
    return true;
}

bool ReceiveWindowWidens() {
    return true;
}

bool ReadsShowResets() {
    return true;
}

bool ReadinessTellsOnlyData() {
    return true;
}

std::string LocalSocketPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + ".sock")).string();
}

bool LocalSocketIsAFile() {
    return true;
}

bool HasIpv6Loopback() {
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return bound;
}

bool AllowsDualStack() {
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const int off = 0;
    const bool allowed = setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0;
    close(probe);
    return allowed;
}
