#include "tools/load/RawConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

RawConnection::~RawConnection() {
    Close();
}

bool RawConnection::Start(std::uint16_t port, int windowBytes) {
    Close();
    descriptor = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return false;
    }
    // The window is fixed before the handshake, which announces it.
    setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &windowBytes, sizeof windowBytes);
    const int noDelay = 1;
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        connected = true;
        return true;
    }
    if (errno != EINPROGRESS) {
        Close();
        return false;
    }
    return true;
}

RawConnection::Status RawConnection::Connect() {
    if (descriptor < 0) {
        return Status::Failed;
    }
    if (connected) {
        return Status::Open;
    }
    pollfd entry{descriptor, POLLOUT, 0};
    if (poll(&entry, 1, 0) == 0) {
        return Status::Waiting;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return Status::Failed;
    }
    connected = true;
    return Status::Open;
}

long RawConnection::Write(const void* data, std::size_t length) {
    if (descriptor < 0) {
        return -1;
    }
    const ssize_t written = send(descriptor, data, length, MSG_NOSIGNAL);
    if (written >= 0) {
        return written;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

RawConnection::Status RawConnection::Read(std::string& into, std::size_t most) {
    if (descriptor < 0) {
        return Status::Failed;
    }
    char chunk[4096];
    while (most > 0) {
        const std::size_t ask = most < sizeof chunk ? most : sizeof chunk;
        const ssize_t got = recv(descriptor, chunk, ask, 0);
        if (got == 0) {
            return Status::Ended;
        }
        if (got < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Status::Open
                                                                             : Status::Failed;
        }
        into.append(chunk, static_cast<std::size_t>(got));
        most -= static_cast<std::size_t>(got);
    }
    return Status::Open;
}

void RawConnection::ShutdownSending() {
    if (descriptor >= 0) {
        shutdown(descriptor, SHUT_WR);
    }
}

void RawConnection::Reset() {
    if (descriptor >= 0) {
        const linger abort{1, 0};
        setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    Close();
}

void RawConnection::Close() {
    if (descriptor >= 0) {
        close(descriptor);
        descriptor = -1;
    }
    connected = false;
}

std::uint16_t FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}
