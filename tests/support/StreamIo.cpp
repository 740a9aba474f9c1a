#include "tests/support/StreamIo.h"

#include "tests/support/TestClient.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

NarrowClient::NarrowClient(std::uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int segment = 536;
    const int window = 4096;
    setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    fd = ConnectToLoopback(fd, port);
}

NarrowClient::~NarrowClient() {
    if (fd >= 0) {
        close(fd);
    }
}

std::size_t SendWithoutWaiting(int fd, const void* data, std::size_t length) {
    for (;;) {
        const ssize_t result = send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (result >= 0) {
            return static_cast<std::size_t>(result);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

bool WaitWritable(int fd, int timeoutMs) {
    pollfd watched{fd, POLLOUT, 0};
    return poll(&watched, 1, timeoutMs) > 0;
}

bool ReadAvailable(int fd, std::vector<std::uint8_t>& into, bool* inOrder) {
    std::uint8_t chunk[8192];
    for (;;) {
        const ssize_t result = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (result > 0) {
            into.insert(into.end(), chunk, chunk + result);
        } else if (result < 0 && errno == EINTR) {
            continue;
        } else {
            if (inOrder != nullptr) {
                *inOrder = result == 0;
            }
            return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
}

std::vector<std::uint8_t> ReadUntilClosed(int fd, int timeoutMs, bool& ended, bool* inOrder) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes;
    ended = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ReadAvailable(fd, bytes, inOrder)) {
            ended = true;
            break;
        }
        pollfd watched{fd, POLLIN, 0};
        poll(&watched, 1, 50);
    }
    return bytes;
}
