#include "tools/load/RawConnection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

// Windows socket handles fit in 32 bits, so the connection keeps its socket as an int.

namespace {

SOCKET Native(int descriptor) {
    return static_cast<SOCKET>(descriptor);
}

int Length(std::size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

bool StartWinsock() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

}  // namespace

RawConnection::~RawConnection() {
    Close();
}

bool RawConnection::Start(std::uint16_t port, int windowBytes) {
    static const bool started = StartWinsock();
    Close();
    const SOCKET sock = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (!started || sock == INVALID_SOCKET) {
        return false;
    }
    descriptor = static_cast<int>(sock);
    u_long nonBlocking = 1;
    ioctlsocket(sock, static_cast<long>(FIONBIO), &nonBlocking);
    // The window is fixed before the handshake, which announces it.
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&windowBytes),
               sizeof windowBytes);
    const int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        connected = true;
        return true;
    }
    if (!WouldBlock()) {
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
    // A refused connect shows as an error or hang-up, not as writable.
    WSAPOLLFD entry{Native(descriptor), POLLWRNORM, 0};
    if (WSAPoll(&entry, 1, 0) == 0) {
        return Status::Waiting;
    }
    if ((entry.revents & (POLLERR | POLLHUP)) != 0) {
        return Status::Failed;
    }
    connected = true;
    return Status::Open;
}

long RawConnection::Write(const void* data, std::size_t length) {
    if (descriptor < 0) {
        return -1;
    }
    const int written = send(Native(descriptor), static_cast<const char*>(data), Length(length), 0);
    if (written != SOCKET_ERROR) {
        return written;
    }
    return WouldBlock() ? 0 : -1;
}

RawConnection::Status RawConnection::Read(std::string& into, std::size_t most) {
    if (descriptor < 0) {
        return Status::Failed;
    }
    char chunk[4096];
    while (most > 0) {
        const std::size_t ask = most < sizeof chunk ? most : sizeof chunk;
        const int got = recv(Native(descriptor), chunk, Length(ask), 0);
        if (got == 0) {
            return Status::Ended;
        }
        if (got == SOCKET_ERROR) {
            return WouldBlock() ? Status::Open : Status::Failed;
        }
        into.append(chunk, static_cast<std::size_t>(got));
        most -= static_cast<std::size_t>(got);
    }
    return Status::Open;
}

void RawConnection::ShutdownSending() {
    if (descriptor >= 0) {
        shutdown(Native(descriptor), SD_SEND);
    }
}

void RawConnection::Reset() {
    if (descriptor >= 0) {
        const linger abort{1, 0};
        setsockopt(Native(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
    }
    Close();
}

void RawConnection::Close() {
    if (descriptor >= 0) {
        closesocket(Native(descriptor));
        descriptor = -1;
    }
    connected = false;
}

std::uint16_t FreeLoopbackPort() {
    static const bool started = StartWinsock();
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    if (!started || probe == INVALID_SOCKET) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    std::uint16_t port = 0;
    if (bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(probe);
    return port;
}
