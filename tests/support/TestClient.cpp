#include "tests/support/TestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::vector<std::uint8_t> EncodeTestFrame(std::uint8_t id, std::uint16_t target,
                                          std::string_view value) {
    std::vector<std::uint8_t> frame(4 + value.size());
    frame[0] = id;
    frame[1] = static_cast<std::uint8_t>(target & 0xFF);
    frame[2] = static_cast<std::uint8_t>(target >> 8);
    frame[3] = static_cast<std::uint8_t>(value.size());
    std::copy(value.begin(), value.end(), frame.begin() + 4);
    return frame;
}

int ConnectToLoopback(int fd, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TestClient::TestClient(std::uint16_t port) {
    fd = ConnectToLoopback(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port);
}

TestClient::~TestClient() {
    Close();
}

bool TestClient::SendBytes(const void* data, std::size_t length) {
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

long TestClient::SendWithin(const void* data, std::size_t length, int waitMs) {
    pollfd watched{fd, POLLOUT, 0};
    if (poll(&watched, 1, waitMs) <= 0) {
        return 0;
    }
    const ssize_t result = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }
    return static_cast<long>(result);
}

std::optional<std::vector<std::uint8_t>> TestClient::ReadExactly(std::size_t length,
                                                                 int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes(length);
    std::size_t received = 0;
    while (received < length) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, RemainingMs(deadline)) <= 0) {
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

std::optional<Frame> TestClient::ReadFrame(int timeoutMs) {
    const auto header = ReadExactly(4, timeoutMs);
    if (!header) {
        return std::nullopt;
    }
    Frame frame;
    frame.id = (*header)[0];
    frame.target = static_cast<std::uint16_t>((*header)[1] | ((*header)[2] << 8));
    const std::size_t length = (*header)[3];
    if (length > 0) {
        const auto value = ReadExactly(length, timeoutMs);
        if (!value) {
            return std::nullopt;
        }
        frame.value.assign(value->begin(), value->end());
    }
    return frame;
}

bool TestClient::NothingArrives(int waitMs) {
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, waitMs) == 0) {
        return true;
    }
    char byte;
    // Readable with nothing to read means the connection ended; that is not a byte arriving.
    return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

bool TestClient::ClosedByPeer(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char scratch[4096];
    for (;;) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, RemainingMs(deadline)) <= 0) {
            return false;
        }
        const ssize_t result = recv(fd, scratch, sizeof scratch, 0);
        if (result <= 0) {
            return true;
        }
    }
}

std::optional<std::uint16_t> TestClient::ReadGreeting(int timeoutMs) {
    const auto first = ReadFrame(timeoutMs);
    const auto second = ReadFrame(timeoutMs);
    if (!first || !second) {
        return std::nullopt;
    }
    return first->target;
}

void TestClient::ShutdownWrite() {
    shutdown(fd, SHUT_WR);
}

void TestClient::Reset() {
    if (fd < 0) {
        return;
    }
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
}

void TestClient::Close() {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

void TestClient::SetReceiveBufferSize(int bytes) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void TestClient::EnableNoDelay() {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}
