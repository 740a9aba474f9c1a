#include "net/RawListener.h"

#include "SocketOps.h"

#include <string>

using namespace sockets;

RawListener::RawListener() {
    StartLayer();
}

RawListener::~RawListener() {
    Close();
    StopLayer();
}

bool RawListener::Open(const SocketAddress& local, int backlog) {
    Close();
    sock = CreateStream();
    if (sock == INVALID_SOCKET_HANDLE) {
        return false;
    }
    if (!SetNonBlocking(sock) || !Bind(sock, local) || !Listen(sock, backlog)) {
        Close();
        return false;
    }
    return true;
}

std::uint16_t RawListener::Port() const {
    std::uint16_t port = 0;
    if (!IsOpen() || !LocalPortOf(sock, port)) {
        return 0;
    }
    return port;
}

bool RawListener::Accept(RawStream& stream, int waitMs) {
    if (!IsOpen() || PollReadable(sock, waitMs) != Readiness::Readable) {
        return false;
    }
    std::string peer;
    const SocketHandle accepted = sockets::Accept(sock, peer);
    if (accepted == INVALID_SOCKET_HANDLE) {
        return false;
    }
    stream.Adopt(accepted);
    return true;
}

void RawListener::Close() {
    if (IsOpen()) {
        sockets::Close(sock);
        sock = INVALID_SOCKET_HANDLE;
    }
}
