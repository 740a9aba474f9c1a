#include "net/NetSocket.h"

#include "SocketOps.h"

#include <new>

using namespace sockets;

NetSocket::NetSocket() {
    StartLayer();
}

NetSocket::NetSocket(int acceptedFlags, SocketHandle accepted)
    : flags(acceptedFlags), sock(accepted) {
    StartLayer();
}

NetSocket::~NetSocket() {
    if (IsOpen()) {
        Close();
    }
    StopLayer();
}

int NetSocket::Open(int newFlags, std::uint16_t port, const char* host) {
    if (IsOpen()) {
        return 1;
    }
    flags = newFlags;
    {
        BufferGuard guard(*this);
        buffer.Clear();
    }
    flow.Restart();
    acceptedPeer[0] = '\0';
    peerClosed = false;

    openFailure.clear();
    if (flags & NS_IPV6) {
        if (OpenIpv6(port, host) != 0) {
            return 1;
        }
    } else if (flags & NS_UDP) {
        sock = CreateDatagram();
        if (!IsOpen() || !Bind(sock, MakeAddress(nullptr, port))) {
            return 1;
        }
        if (flags & NS_MULTICAST) {
            membershipGroup = ParseDottedAddress(host != nullptr ? host : "");
            membershipInterface = 0;
            if (!JoinMulticastGroup(sock, membershipGroup, membershipInterface)) {
                return 1;
            }
        } else if (!SetMulticastLoop(sock, 1)) {
            return 1;
        }
    } else if (flags & NS_SERVER) {
        sock = CreateStream();
        if (!IsOpen()) {
            return FailOpen("socket");
        }
        SetNonBlocking(sock);
        SetListenerPortOptions(sock);
        if (!Bind(sock, MakeAddress(host, port))) {
            return FailOpen("bind");
        }
        if (!Listen(sock, LISTEN_BACKLOG)) {
            return FailOpen("listen");
        }
    } else {
        const SocketAddress remote = MakeAddress(host, port);
        sock = CreateStream();
        if (!IsOpen() || !Connect(sock, remote)) {
            return 1;
        }
    }
    if (flags & NS_THREADED && !(flags & NS_SERVER)) {
        StartReceiver();
    }
    return 0;
}

int NetSocket::OpenIpv6(std::uint16_t port, const char* host) {
    Ipv6Bytes address{};
    if ((flags & NS_UDP) || (host != nullptr && !ParseIpv6Text(host, address)) ||
        (host == nullptr && !(flags & NS_SERVER))) {
        openFailure = "address: not an IPv6 TCP endpoint";
        return 1;
    }
    sock = CreateStreamIpv6();
    if (!IsOpen()) {
        return FailOpen("socket");
    }
    if (!(flags & NS_SERVER)) {
        return ConnectIpv6(sock, address, port) ? 0 : FailOpen("connect");
    }
    SetNonBlocking(sock);
    SetListenerPortOptions(sock);
    // Where the system refuses, the listener serves IPv6 alone.
    SetDualStack(sock);
    if (!BindIpv6(sock, address, port)) {
        return FailOpen("bind");
    }
    if (!Listen(sock, LISTEN_BACKLOG)) {
        return FailOpen("listen");
    }
    return 0;
}

int NetSocket::FailOpen(const char* call) {
    openFailure = std::string(call) + ": " + LastErrorText();
    return 1;
}

NetSocket* NetSocket::Accept() {
    if (!IsOpen() || !(flags & NS_SERVER)) {
        return nullptr;
    }
    std::string peer;
    const SocketHandle accepted = sockets::Accept(sock, peer);
    if (accepted == INVALID_SOCKET_HANDLE) {
        return nullptr;
    }
    auto* endpoint =
        new (std::nothrow) NetSocket((flags & (NS_THREADED | NS_BLOCKING)) | NS_TCP, accepted);
    if (endpoint == nullptr) {
        sockets::Close(accepted);
        return nullptr;
    }
    endpoint->SetAcceptedPeer(peer);
    // An endpoint that carries NS_THREADED gets its receiver, so that its buffer fills the way
    // its flags say.
    if (endpoint->flags & NS_THREADED) {
        endpoint->StartReceiver();
    }
    return endpoint;
}

int NetSocket::Close() {
    if (!IsOpen()) {
        return 1;
    }
    StopReceiver();
    if (flags & NS_MULTICAST) {
        LeaveMulticastGroup(sock, membershipGroup, membershipInterface);
    }
    FlushKeptOutput();
    if (!sockets::Close(sock)) {
        return 1;
    }
    sock = INVALID_SOCKET_HANDLE;
    flow.DropKeptOutput();
    return 0;
}

bool NetSocket::IsConnected() {
    if (!IsOpen()) {
        return false;
    }
    if (flags & (NS_SERVER | NS_UDP)) {
        return true;
    }
    if (flow.HasFailed()) {
        return false;
    }
    return !IsDisconnected();
}

bool NetSocket::IsDisconnected() {
    if (!IsOpen() || PollReadable(sock, 0) != Readiness::Readable) {
        return false;
    }
    const PeekResult peek = PeekOneByte(sock);
    return peek == PeekResult::OrderlyClose || peek == PeekResult::ConnectionGone;
}

void NetSocket::EnableNoDelay() {
    if (IsOpen()) {
        SetNoDelay(sock);
    }
}

void NetSocket::StartReceiver() {
    if (receiver.IsRunning() || !OpenWakeChannel(receiverWake)) {
        return;
    }
    receiver.Start(&NetSocket::ReceiverLoop, this);
    if (!receiver.IsRunning()) {
        CloseWakeChannel(receiverWake);
    }
}

void NetSocket::StopReceiver() {
    if (!receiver.IsRunning()) {
        return;
    }
    // The receiver returns at its next wait, never while it holds bufferLock.
    SignalWakeChannel(receiverWake);
    receiver.Join();
    CloseWakeChannel(receiverWake);
}
