#include "testing/LoopbackClient.h"

#include "testing/Deadline.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd watched{fd, events, 0};
    return poll(&watched, 1, timeoutMs) > 0;
}

// Waits for a non-blocking connect to finish; 0 when it succeeded, else the error.
int FinishConnect(int fd) {
    pollfd watched{fd, POLLOUT, 0};
    while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
        continue;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

// Connects `fd` to `address`; false, with `fd` still open, when it could not.
bool ConnectSocket(int fd, const sockaddr* address, socklen_t length) {
    // Non-blocking while it connects, so that a signal (libFuzzer's timer) cannot cut the
    // connect short; blocking again afterwards.
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, address, length) != 0) {
        const int error = errno == EINPROGRESS ? FinishConnect(fd) : errno;
        if (error != 0) {
            return false;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return true;
}

}  // namespace

bool LoopbackClient::Connect(std::uint16_t port, Window window) {
    Reset();
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    if (window == Window::Narrow) {
        const int segment = 536;
        const int receiveWindow = 4096;
        setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveWindow, sizeof receiveWindow);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!ConnectSocket(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
        Close();
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    localPort = ntohs(address.sin_port);
    return true;
}

bool LoopbackClient::ConnectIpv6(std::uint16_t port) {
    Reset();
    fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    if (!ConnectSocket(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
        Close();
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    localPort = ntohs(address.sin6_port);
    return true;
}

bool LoopbackClient::SendBytes(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t result = send(fd, bytes + sent, length - sent, MSG_NOSIGNAL);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

std::size_t LoopbackClient::SendWithoutWaiting(const void* data, std::size_t length) {
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

long LoopbackClient::SendWithin(const void* data, std::size_t length, int waitMs) {
    if (!WaitWritable(waitMs)) {
        return 0;
    }
    const ssize_t result = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }
    return static_cast<long>(result);
}

bool LoopbackClient::WaitWritable(int timeoutMs) {
    return WaitFor(fd, POLLOUT, timeoutMs);
}

std::optional<std::vector<std::uint8_t>> LoopbackClient::ReadExactly(std::size_t length,
                                                                     int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes(length);
    std::size_t received = 0;
    while (received < length) {
        if (!WaitReadable(RemainingMs(deadline))) {
            return std::nullopt;
        }
        const ssize_t result = recv(fd, bytes.data() + received, length - received, 0);
        if (result <= 0) {
            return std::nullopt;
        }
        received += static_cast<std::size_t>(result);
    }
    return bytes;
}

bool LoopbackClient::ReadAvailable(std::vector<std::uint8_t>& into, bool* inOrder) {
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

bool LoopbackClient::WaitReadable(int timeoutMs) {
    return WaitFor(fd, POLLIN, timeoutMs);
}

bool LoopbackClient::NothingArrives(int waitMs) {
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, waitMs) == 0) {
        return true;
    }
    char byte;
    // Readable with nothing to read means the connection ended; that is not a byte arriving.
    return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

bool LoopbackClient::ClosedByPeer(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char scratch[4096];
    for (;;) {
        if (!WaitReadable(RemainingMs(deadline))) {
            return false;
        }
        const ssize_t result = recv(fd, scratch, sizeof scratch, 0);
        if (result <= 0) {
            return true;
        }
    }
}

void LoopbackClient::ShutdownWrite() {
    shutdown(fd, SHUT_WR);
}

void LoopbackClient::Reset() {
    if (fd < 0) {
        return;
    }
    const linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
}

void LoopbackClient::Close() {
    if (fd >= 0) {
        close(fd);
        fd = -1;
        localPort = 0;
    }
}

void LoopbackClient::SetReceiveBufferSize(int bytes) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void LoopbackClient::EnableNoDelay() {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}
