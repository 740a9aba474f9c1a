#include "fuzz/LoopbackClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int NARROW_RECEIVE_BUFFER = 4096;
constexpr int NARROW_SEGMENT = 536;

}  // namespace

bool LoopbackClient::Connect(std::uint16_t port, bool narrow) {
    Reset();
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Before the handshake, which carries the window scale and the segment size.
    if (narrow) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &NARROW_RECEIVE_BUFFER, sizeof NARROW_RECEIVE_BUFFER);
        setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &NARROW_SEGMENT, sizeof NARROW_SEGMENT);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    // Non-blocking, so that a signal (libFuzzer's timer) cannot cut the connect short.
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        if (error == EINPROGRESS) {
            pollfd watched{fd, POLLOUT, 0};
            while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
                continue;
            }
            socklen_t errorLength = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength);
        }
        if (error != 0) {
            Reset();
            return false;
        }
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    localPort = ntohs(address.sin_port);
    return true;
}

bool LoopbackClient::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t result = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

LoopbackClient::ReadState LoopbackClient::ReadAvailable(std::vector<std::uint8_t>& into) {
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t result = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (result > 0) {
            into.insert(into.end(), chunk, chunk + result);
            continue;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ReadState::Open;
        }
        return ReadState::Ended;
    }
}

bool LoopbackClient::WaitReadable(int milliseconds) {
    pollfd watched{fd, POLLIN, 0};
    return poll(&watched, 1, milliseconds) > 0;
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
    close(fd);
    fd = -1;
    localPort = 0;
}
