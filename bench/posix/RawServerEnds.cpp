#include "bench/RawServerEnds.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

namespace {

bool IsConnectedStreamOnPort(int descriptor, std::uint16_t port) {
    int type = 0;
    int listening = 0;
    socklen_t length = sizeof type;
    if (getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
        return false;
    }
    length = sizeof listening;
    if (getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 ||
        listening != 0) {
        return false;
    }
    sockaddr_in local{};
    length = sizeof local;
    return getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
           local.sin_family == AF_INET && local.sin_port == htons(port);
}

}  // namespace

RawServerEnds::RawServerEnds(std::uint16_t port) {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return;
    }
    const int own = dirfd(directory);
    while (const dirent* entry = readdir(directory)) {
        char* end = nullptr;
        const long descriptor = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || descriptor == own) {
            continue;
        }
        if (IsConnectedStreamOnPort(static_cast<int>(descriptor), port)) {
            descriptors.push_back(static_cast<int>(descriptor));
        }
    }
    closedir(directory);
}

std::size_t RawServerEnds::SendToEach(const void* data, std::size_t length) const {
    std::size_t whole = 0;
    for (const int descriptor : descriptors) {
        if (send(descriptor, data, length, MSG_NOSIGNAL | MSG_DONTWAIT) ==
            static_cast<ssize_t>(length)) {
            ++whole;
        }
    }
    return whole;
}

std::size_t RawServerEnds::ReceiveFromEach(void* data, std::size_t capacity) const {
    std::size_t taken = 0;
    for (const int descriptor : descriptors) {
        if (recv(descriptor, data, capacity, MSG_DONTWAIT) > 0) {
            ++taken;
        }
    }
    return taken;
}
