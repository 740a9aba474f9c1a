// Winsock's inet_addr is the conversion the address rules are written for; MSVC marks it as
// deprecated.
#define _WINSOCK_DEPRECATED_NO_WARNINGS

#include "SocketOps.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// mswsock.h needs the types of winsock2.h.
#include <mswsock.h>

#include <climits>
#include <cstring>

static_assert(sizeof(sockaddr_in) == sizeof(SocketAddress));

namespace sockets {
namespace {

SOCKET Native(SocketHandle sock) {
    return static_cast<SOCKET>(sock);
}

SocketHandle FromNative(SOCKET sock) {
    return sock == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(sock);
}

// Winsock takes lengths as int.
int ClampedLength(std::size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

sockaddr_in ToPlatform(const SocketAddress& address) {
    sockaddr_in platform{};
    platform.sin_family = static_cast<decltype(platform.sin_family)>(address.family);
    platform.sin_port = address.port;
    platform.sin_addr.s_addr = address.address;
    return platform;
}

SocketAddress FromPlatform(const sockaddr_in& platform) {
    SocketAddress address;
    address.family = static_cast<std::uint16_t>(platform.sin_family);
    address.port = platform.sin_port;
    address.address = platform.sin_addr.s_addr;
    return address;
}

sockaddr_in6 ToPlatformIpv6(const Ipv6Bytes& address, std::uint16_t port) {
    sockaddr_in6 platform{};
    platform.sin6_family = AF_INET6;
    platform.sin6_port = HostToNetwork16(port);
    std::memcpy(&platform.sin6_addr, address.data(), address.size());
    return platform;
}

// The text of an IPv4 or IPv6 socket address; false for any other family.
bool TextOf(const sockaddr_storage& platform, std::string& text) {
    if (platform.ss_family == AF_INET) {
        text = AddressToText(reinterpret_cast<const sockaddr_in*>(&platform)->sin_addr.s_addr);
        return true;
    }
    if (platform.ss_family == AF_INET6) {
        Ipv6Bytes bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(&platform)->sin6_addr,
                    bytes.size());
        text = Ipv6AddressText(bytes);
        return true;
    }
    return false;
}

bool SetIntOption(SocketHandle sock, int level, int option, int value) {
    return setsockopt(Native(sock), level, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool SetMembership(SocketHandle sock, int option, std::uint32_t group,
                   std::uint32_t interfaceAddress) {
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = group;
    membership.imr_interface.s_addr = interfaceAddress;
    return setsockopt(Native(sock), IPPROTO_IP, option, reinterpret_cast<const char*>(&membership),
                      sizeof membership) == 0;
}

// getsockname, for IPv4 sockets only.
bool QueryAddress(int(WSAAPI* query)(SOCKET, sockaddr*, int*), SocketHandle sock,
                  SocketAddress& address) {
    sockaddr_in platform{};
    int length = sizeof platform;
    if (query(Native(sock), reinterpret_cast<sockaddr*>(&platform), &length) != 0 ||
        platform.sin_family != AF_INET) {
        return false;
    }
    address = FromPlatform(platform);
    return true;
}

IoError ClassifyError(int error) {
    switch (error) {
        case WSAEWOULDBLOCK:
            return IoError::WouldBlock;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
        case WSAENOTCONN:
        case WSAESHUTDOWN:
            return IoError::ConnectionGone;
        case WSAEMSGSIZE:
            return IoError::TooLarge;
        default:
            return IoError::Other;
    }
}

IoResult Completed(int result) {
    if (result == SOCKET_ERROR) {
        return IoResult{0, ClassifyError(WSAGetLastError())};
    }
    return IoResult{static_cast<std::size_t>(result), IoError::None};
}

// Winsock has no per-call "do not wait" flag: a receive that must not wait first asks whether
// anything is there.
bool ReadableNow(SocketHandle sock) {
    return PollReadable(sock, 0) == Readiness::Readable;
}

SocketHandle CreateSocket(int family, int type, int protocol) {
    return FromNative(WSASocketW(family, type, protocol, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

}  // namespace

void StartLayer() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
}

void StopLayer() {
    WSACleanup();
}

SocketHandle CreateStream() {
    return CreateSocket(AF_INET, SOCK_STREAM, 0);
}

SocketHandle CreateStreamIpv6() {
    return CreateSocket(AF_INET6, SOCK_STREAM, 0);
}

SocketHandle CreateDatagram() {
    const SocketHandle sock = CreateSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (sock != INVALID_SOCKET_HANDLE) {
        // Without this, an ICMP "port unreachable" for an earlier datagram makes the next
        // receive fail with a reset, which a datagram socket has no use for.
        BOOL reportResets = FALSE;
        DWORD returned = 0;
        WSAIoctl(Native(sock), SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0,
                 &returned, nullptr, nullptr);
    }
    return sock;
}

bool Close(SocketHandle sock) {
    return closesocket(Native(sock)) == 0;
}

void Shutdown(SocketHandle sock) {
    shutdown(Native(sock), SD_BOTH);
}

bool SetNonBlocking(SocketHandle sock) {
    u_long nonBlocking = 1;
    return ioctlsocket(Native(sock), static_cast<long>(FIONBIO), &nonBlocking) == 0;
}

bool ShutdownSending(SocketHandle sock) {
    return shutdown(Native(sock), SD_SEND) == 0;
}

bool SetResetOnClose(SocketHandle sock) {
    const linger abort{1, 0};
    return setsockopt(Native(sock), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                      sizeof abort) == 0;
}

bool SetReceiveBufferSize(SocketHandle sock, int bytes) {
    return SetIntOption(sock, SOL_SOCKET, SO_RCVBUF, bytes);
}

// Winsock lets a program read the segment size but not set it.
bool SetMaxSegmentSize(SocketHandle, int) {
    return false;
}

// On Windows SO_REUSEADDR would let another program bind a port this listener holds, so the
// listener claims its port exclusively instead.
bool SetListenerPortOptions(SocketHandle sock) {
    return SetIntOption(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
}

bool SetNoDelay(SocketHandle sock) {
    return SetIntOption(sock, IPPROTO_TCP, TCP_NODELAY, 1);
}

// Winsock's IPv6 sockets are IPv6-only unless told otherwise.
bool SetDualStack(SocketHandle sock) {
    return SetIntOption(sock, IPPROTO_IPV6, IPV6_V6ONLY, 0);
}

bool SetMulticastLoop(SocketHandle sock, int value) {
    return SetIntOption(sock, IPPROTO_IP, IP_MULTICAST_LOOP, value);
}

bool JoinMulticastGroup(SocketHandle sock, std::uint32_t group, std::uint32_t interfaceAddress) {
    return SetMembership(sock, IP_ADD_MEMBERSHIP, group, interfaceAddress);
}

bool LeaveMulticastGroup(SocketHandle sock, std::uint32_t group, std::uint32_t interfaceAddress) {
    return SetMembership(sock, IP_DROP_MEMBERSHIP, group, interfaceAddress);
}

bool Bind(SocketHandle sock, const SocketAddress& address) {
    const sockaddr_in platform = ToPlatform(address);
    return bind(Native(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) == 0;
}

bool BindIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port) {
    const sockaddr_in6 platform = ToPlatformIpv6(address, port);
    return bind(Native(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) == 0;
}

bool Listen(SocketHandle sock, int backlog) {
    return listen(Native(sock), backlog) == 0;
}

bool Connect(SocketHandle sock, const SocketAddress& address) {
    const sockaddr_in platform = ToPlatform(address);
    return connect(Native(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) ==
           0;
}

bool ConnectIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port) {
    const sockaddr_in6 platform = ToPlatformIpv6(address, port);
    return connect(Native(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) ==
           0;
}

namespace {

ConnectProgress StartConnectTo(SocketHandle sock, const sockaddr* platform, int length) {
    if (connect(Native(sock), platform, length) == 0) {
        return ConnectProgress::Connected;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectProgress::Pending : ConnectProgress::Failed;
}

}  // namespace

ConnectProgress StartConnect(SocketHandle sock, const SocketAddress& address) {
    const sockaddr_in platform = ToPlatform(address);
    return StartConnectTo(sock, reinterpret_cast<const sockaddr*>(&platform), sizeof platform);
}

ConnectProgress StartConnectIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port) {
    const sockaddr_in6 platform = ToPlatformIpv6(address, port);
    return StartConnectTo(sock, reinterpret_cast<const sockaddr*>(&platform), sizeof platform);
}

ConnectProgress FinishConnect(SocketHandle sock, int timeoutMilliseconds) {
    WSAPOLLFD watched{Native(sock), POLLWRNORM, 0};
    const int result = WSAPoll(&watched, 1, timeoutMilliseconds);
    if (result == 0) {
        return ConnectProgress::Pending;
    }
    // A refused connect shows as an error or a hang-up, not as writable.
    if (result == SOCKET_ERROR || (watched.revents & (POLLERR | POLLHUP)) != 0) {
        return ConnectProgress::Failed;
    }
    return ConnectProgress::Connected;
}

bool PollWritable(SocketHandle sock, int timeoutMilliseconds) {
    WSAPOLLFD watched{Native(sock), POLLWRNORM, 0};
    return WSAPoll(&watched, 1, timeoutMilliseconds) > 0;
}

SocketHandle Accept(SocketHandle listener, std::string& peer) {
    sockaddr_storage platform{};
    int length = sizeof platform;
    const SOCKET accepted =
        accept(Native(listener), reinterpret_cast<sockaddr*>(&platform), &length);
    if (accepted == INVALID_SOCKET) {
        return INVALID_SOCKET_HANDLE;
    }
    const SocketHandle sock = FromNative(accepted);
    // An accepted socket takes over its listener's mode, but it is set here all the same, so that
    // a send on it can never wait; inheritance is switched off as for created sockets.
    SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    if (!SetNonBlocking(sock)) {
        closesocket(accepted);
        return INVALID_SOCKET_HANDLE;
    }
    if (!TextOf(platform, peer)) {
        peer.clear();
    }
    return sock;
}

Readiness PollReadable(SocketHandle sock, int timeoutMilliseconds) {
    WSAPOLLFD watched{Native(sock), POLLRDNORM, 0};
    const int result = WSAPoll(&watched, 1, timeoutMilliseconds);
    if (result == SOCKET_ERROR) {
        return Readiness::Failed;
    }
    // Hang-ups and errors count as readable: the receive that follows reports them.
    return result == 0 ? Readiness::NotReadable : Readiness::Readable;
}

PeekResult PeekOneByte(SocketHandle sock) {
    char byte = 0;
    const int result = recv(Native(sock), &byte, 1, MSG_PEEK);
    if (result > 0) {
        return PeekResult::Data;
    }
    if (result == 0) {
        return PeekResult::OrderlyClose;
    }
    // Winsock drops what a reset connection had not yet delivered, so a reset shows here at once.
    switch (WSAGetLastError()) {
        case WSAENETRESET:
        case WSAECONNABORTED:
        case WSAECONNRESET:
        case WSAEINVAL:
        case WSAETIMEDOUT:
            return PeekResult::ConnectionGone;
        default:
            return PeekResult::OtherError;
    }
}

IoResult SendSome(SocketHandle sock, const void* data, std::size_t length) {
    return Completed(send(Native(sock), static_cast<const char*>(data), ClampedLength(length), 0));
}

IoResult SendDatagram(SocketHandle sock, const void* data, std::size_t length,
                      const SocketAddress& destination) {
    const sockaddr_in platform = ToPlatform(destination);
    return Completed(sendto(Native(sock), static_cast<const char*>(data), ClampedLength(length), 0,
                            reinterpret_cast<const sockaddr*>(&platform), sizeof platform));
}

IoResult ReceiveStream(SocketHandle sock, void* data, std::size_t capacity, bool wait) {
    if (!wait && !ReadableNow(sock)) {
        return IoResult{0, IoError::WouldBlock};
    }
    return Completed(recv(Native(sock), static_cast<char*>(data), ClampedLength(capacity), 0));
}

IoResult ReceiveDatagram(SocketHandle sock, void* data, std::size_t capacity, SocketAddress& from,
                         bool wait) {
    if (!wait && !ReadableNow(sock)) {
        return IoResult{0, IoError::WouldBlock};
    }
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    // A datagram longer than the area is consumed and fails with WSAEMSGSIZE.
    const int result = recvfrom(Native(sock), static_cast<char*>(data), ClampedLength(capacity), 0,
                                reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (result == SOCKET_ERROR) {
        return IoResult{0, ClassifyError(WSAGetLastError())};
    }
    from = FromPlatform(sender);
    return IoResult{static_cast<std::size_t>(result), IoError::None};
}

IoResult PeekStream(SocketHandle sock, void* data, std::size_t capacity) {
    if (!ReadableNow(sock)) {
        return IoResult{0, IoError::WouldBlock};
    }
    return Completed(
        recv(Native(sock), static_cast<char*>(data), ClampedLength(capacity), MSG_PEEK));
}

bool PendingByteCount(SocketHandle sock, std::uint32_t& count) {
    u_long pending = 0;
    if (ioctlsocket(Native(sock), static_cast<long>(FIONREAD), &pending) != 0) {
        return false;
    }
    count = static_cast<std::uint32_t>(pending);
    return true;
}

bool PeerAddressTextOf(SocketHandle sock, std::string& text) {
    sockaddr_storage platform{};
    int length = sizeof platform;
    return getpeername(Native(sock), reinterpret_cast<sockaddr*>(&platform), &length) == 0 &&
           TextOf(platform, text);
}

bool LocalAddressOf(SocketHandle sock, SocketAddress& address) {
    return QueryAddress(getsockname, sock, address);
}

bool LocalPortOf(SocketHandle sock, std::uint16_t& port) {
    sockaddr_storage platform{};
    int length = sizeof platform;
    if (getsockname(Native(sock), reinterpret_cast<sockaddr*>(&platform), &length) != 0) {
        return false;
    }
    if (platform.ss_family == AF_INET) {
        port = NetworkToHost16(reinterpret_cast<const sockaddr_in*>(&platform)->sin_port);
        return true;
    }
    if (platform.ss_family == AF_INET6) {
        port = NetworkToHost16(reinterpret_cast<const sockaddr_in6*>(&platform)->sin6_port);
        return true;
    }
    return false;
}

std::uint16_t InetFamily() {
    return AF_INET;
}

std::uint32_t ParseDottedAddress(const char* text) {
    return inet_addr(text);
}

bool LookupHostByName(const char* name, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

bool LocalHostName(char* name, std::size_t capacity) {
    if (gethostname(name, ClampedLength(capacity)) != 0) {
        return false;
    }
    return std::memchr(name, '\0', capacity) != nullptr;
}

std::string LastErrorText() {
    const int error = WSAGetLastError();
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string described(text, length);
    // The system's messages end in a line break; the text is one line.
    while (!described.empty() &&
           (described.back() == '\n' || described.back() == '\r' || described.back() == ' ')) {
        described.pop_back();
    }
    return described.empty() ? "error " + std::to_string(error) : described;
}

// Winsock waits on sockets only, so the wake channel is a pair of loopback datagram sockets:
// the write end sends one byte to the read end.
bool OpenWakeChannel(WakeChannel& channel) {
    WakeChannel opened;
    opened.readEnd = CreateDatagram();
    opened.writeEnd = CreateDatagram();
    SocketAddress loopback;
    loopback.family = AF_INET;
    loopback.address = htonl(INADDR_LOOPBACK);
    SocketAddress bound;
    if (opened.readEnd == INVALID_SOCKET_HANDLE || opened.writeEnd == INVALID_SOCKET_HANDLE ||
        !Bind(opened.readEnd, loopback) || !LocalAddressOf(opened.readEnd, bound) ||
        !Connect(opened.writeEnd, bound) || !SetNonBlocking(opened.readEnd)) {
        CloseWakeChannel(opened);
        return false;
    }
    channel = opened;
    return true;
}

void SignalWakeChannel(const WakeChannel& channel) {
    const char signal = 1;
    send(Native(channel.writeEnd), &signal, 1, 0);
}

void DrainWakeChannel(const WakeChannel& channel) {
    char signals[64];
    while (recv(Native(channel.readEnd), signals, sizeof signals, 0) > 0) {
    }
}

void CloseWakeChannel(WakeChannel& channel) {
    if (channel.readEnd != INVALID_SOCKET_HANDLE) {
        closesocket(Native(channel.readEnd));
    }
    if (channel.writeEnd != INVALID_SOCKET_HANDLE) {
        closesocket(Native(channel.writeEnd));
    }
    channel = WakeChannel{};
}

WaitResult WaitReadableOrWoken(SocketHandle sock, const WakeChannel& channel) {
    WSAPOLLFD watched[2] = {{Native(sock), POLLRDNORM, 0},
                            {Native(channel.readEnd), POLLRDNORM, 0}};
    if (WSAPoll(watched, 2, -1) == SOCKET_ERROR) {
        return WaitResult::Failed;
    }
    if (watched[1].revents != 0) {
        return WaitResult::Woken;
    }
    return WaitResult::Readable;
}

}  // namespace sockets
