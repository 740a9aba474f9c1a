#include "testing/LoopbackClient.h"

#include "testing/Deadline.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <climits>

// The socket stays non-blocking from its creation on; the calls that wait do so in WSAPoll, with
// the bound each of them names.

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the test process and stays up until it ends.
bool StartWinsock() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// Windows socket handles fit in 32 bits, so the client keeps its socket as an int.
SOCKET Native(int fd) {
    return static_cast<SOCKET>(fd);
}

int Length(std::size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

bool WaitFor(int fd, short events, int timeoutMs) {
    WSAPOLLFD watched{Native(fd), events, 0};
    return WSAPoll(&watched, 1, timeoutMs) > 0;
}

bool SetIntOption(int fd, int level, int option, int value) {
    return setsockopt(Native(fd), level, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

}  // namespace

bool LoopbackClient::Connect(std::uint16_t port, Window window) {
    static const bool started = StartWinsock();
    Reset();
    const SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    if (!started || sock == INVALID_SOCKET) {
        return false;
    }
    fd = static_cast<int>(sock);
    // Winsock sets no segment size, so a narrow window is the small receive buffer alone.
    if (window == Window::Narrow) {
        SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, 4096);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    u_long nonBlocking = 1;
    ioctlsocket(sock, static_cast<long>(FIONBIO), &nonBlocking);
    int length = sizeof address;
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    localPort = ntohs(address.sin_port);
    return true;
}

bool LoopbackClient::ConnectIpv6(std::uint16_t port) {
    static const bool started = StartWinsock();
    Reset();
    const SOCKET sock = socket(AF_INET6, SOCK_STREAM, 0);
    if (!started || sock == INVALID_SOCKET) {
        return false;
    }
    fd = static_cast<int>(sock);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    u_long nonBlocking = 1;
    ioctlsocket(sock, static_cast<long>(FIONBIO), &nonBlocking);
    int length = sizeof address;
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    localPort = ntohs(address.sin6_port);
    return true;
}

bool LoopbackClient::SendBytes(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < length) {
        const int result = send(Native(fd), bytes + sent, Length(length - sent), 0);
        if (result == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) {
                return false;
            }
            WaitWritable(-1);
            continue;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

std::size_t LoopbackClient::SendWithoutWaiting(const void* data, std::size_t length) {
    const int result = send(Native(fd), static_cast<const char*>(data), Length(length), 0);
    return result == SOCKET_ERROR ? 0 : static_cast<std::size_t>(result);
}

long LoopbackClient::SendWithin(const void* data, std::size_t length, int waitMs) {
    if (!WaitWritable(waitMs)) {
        return 0;
    }
    const int result = send(Native(fd), static_cast<const char*>(data), Length(length), 0);
    if (result == SOCKET_ERROR) {
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }
    return result;
}

bool LoopbackClient::WaitWritable(int timeoutMs) {
    return WaitFor(fd, POLLWRNORM, timeoutMs);
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
        const int result = recv(Native(fd), reinterpret_cast<char*>(bytes.data() + received),
                                Length(length - received), 0);
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            continue;
        }
        if (result <= 0) {
            return std::nullopt;
        }
        received += static_cast<std::size_t>(result);
    }
    return bytes;
}

bool LoopbackClient::ReadAvailable(std::vector<std::uint8_t>& into, bool* inOrder) {
    char chunk[8192];
    for (;;) {
        const int result = recv(Native(fd), chunk, sizeof chunk, 0);
        if (result > 0) {
            into.insert(into.end(), chunk, chunk + result);
            continue;
        }
        const bool waiting = result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
        if (!waiting && inOrder != nullptr) {
            *inOrder = result == 0;
        }
        return waiting;
    }
}

bool LoopbackClient::WaitReadable(int timeoutMs) {
    return WaitFor(fd, POLLRDNORM, timeoutMs);
}

bool LoopbackClient::NothingArrives(int waitMs) {
    if (!WaitReadable(waitMs)) {
        return true;
    }
    char byte;
    // Readable with nothing to read means the connection ended; that is not a byte arriving.
    return recv(Native(fd), &byte, 1, MSG_PEEK) <= 0;
}

bool LoopbackClient::ClosedByPeer(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char scratch[4096];
    for (;;) {
        if (!WaitReadable(RemainingMs(deadline))) {
            return false;
        }
        const int result = recv(Native(fd), scratch, sizeof scratch, 0);
        if (result == 0 || (result == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
            return true;
        }
    }
}

void LoopbackClient::ShutdownWrite() {
    shutdown(Native(fd), SD_SEND);
}

void LoopbackClient::Reset() {
    if (fd < 0) {
        return;
    }
    const linger option{1, 0};
    setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
               sizeof option);
    Close();
}

void LoopbackClient::Close() {
    if (fd >= 0) {
        closesocket(Native(fd));
        fd = -1;
        localPort = 0;
    }
}

void LoopbackClient::SetReceiveBufferSize(int bytes) {
    SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, bytes);
}

void LoopbackClient::EnableNoDelay() {
    SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
}
