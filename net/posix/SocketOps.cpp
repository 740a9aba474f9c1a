#include "SocketOps.h"

#include "sync/KillableWait.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

static_assert(sizeof(sockaddr_in) == sizeof(SocketAddress));

namespace sockets {
namespace {

int Fd(SocketHandle sock) {
    return static_cast<int>(sock);
}

sockaddr_in ToPlatform(const SocketAddress& address) {
    sockaddr_in platform{};
    platform.sin_family = address.family;
    platform.sin_port = address.port;
    platform.sin_addr.s_addr = address.address;
    return platform;
}

SocketAddress FromPlatform(const sockaddr_in& platform) {
    SocketAddress address;
    address.family = platform.sin_family;
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
    return setsockopt(Fd(sock), level, option, &value, sizeof value) == 0;
}

bool SetMembership(SocketHandle sock, int option, std::uint32_t group,
                   std::uint32_t interfaceAddress) {
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = group;
    membership.imr_interface.s_addr = interfaceAddress;
    return setsockopt(Fd(sock), IPPROTO_IP, option, &membership, sizeof membership) == 0;
}

IoError ClassifyError(int error) {
    switch (error) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return IoError::WouldBlock;
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENETRESET:
        case ENOTCONN:
            return IoError::ConnectionGone;
        default:
            return IoError::Other;
    }
}

IoResult Completed(ssize_t result) {
    if (result < 0) {
        return IoResult{0, ClassifyError(errno)};
    }
    return IoResult{static_cast<std::size_t>(result), IoError::None};
}

}  // namespace

void StartLayer() {}

void StopLayer() {}

SocketHandle CreateStream() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SocketHandle CreateStreamIpv6() {
    return socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SocketHandle CreateDatagram() {
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
}

bool Close(SocketHandle sock) {
    // On Linux the descriptor is released even when close reports EINTR, so it is not retried.
    return close(Fd(sock)) == 0 || errno == EINTR;
}

void Shutdown(SocketHandle sock) {
    shutdown(Fd(sock), SHUT_RDWR);
}

bool SetNonBlocking(SocketHandle sock) {
    const int flags = fcntl(Fd(sock), F_GETFL, 0);
    return flags >= 0 && fcntl(Fd(sock), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool ShutdownSending(SocketHandle sock) {
    return shutdown(Fd(sock), SHUT_WR) == 0;
}

bool SetResetOnClose(SocketHandle sock) {
    const linger abort{1, 0};
    return setsockopt(Fd(sock), SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0;
}

bool SetReceiveBufferSize(SocketHandle sock, int bytes) {
    return SetIntOption(sock, SOL_SOCKET, SO_RCVBUF, bytes);
}

bool SetMaxSegmentSize(SocketHandle sock, int bytes) {
    return SetIntOption(sock, IPPROTO_TCP, TCP_MAXSEG, bytes);
}

// On Linux SO_REUSEADDR allows a bind beside TIME_WAIT connections only: a port that another
// socket listens on still fails to bind.
bool SetListenerPortOptions(SocketHandle sock) {
    return SetIntOption(sock, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool SetNoDelay(SocketHandle sock) {
    return SetIntOption(sock, IPPROTO_TCP, TCP_NODELAY, 1);
}

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
    return bind(Fd(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) == 0;
}

bool BindIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port) {
    const sockaddr_in6 platform = ToPlatformIpv6(address, port);
    return bind(Fd(sock), reinterpret_cast<const sockaddr*>(&platform), sizeof platform) == 0;
}

bool Listen(SocketHandle sock, int backlog) {
    return listen(Fd(sock), backlog) == 0;
}

namespace {

bool ConnectTo(SocketHandle sock, const sockaddr* platform, socklen_t length) {
    const KillableWait killable;
    if (connect(Fd(sock), platform, length) == 0) {
        return true;
    }
    if (errno != EINTR) {
        return false;
    }
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd watched{Fd(sock), POLLOUT, 0};
    while (poll(&watched, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    int error = 0;
    socklen_t errorLength = sizeof error;
    return getsockopt(Fd(sock), SOL_SOCKET, SO_ERROR, &error, &errorLength) == 0 && error == 0;
}

}  // namespace

bool Connect(SocketHandle sock, const SocketAddress& address) {
    const sockaddr_in platform = ToPlatform(address);
    return ConnectTo(sock, reinterpret_cast<const sockaddr*>(&platform), sizeof platform);
}

bool ConnectIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port) {
    const sockaddr_in6 platform = ToPlatformIpv6(address, port);
    return ConnectTo(sock, reinterpret_cast<const sockaddr*>(&platform), sizeof platform);
}

namespace {

ConnectProgress StartConnectTo(SocketHandle sock, const sockaddr* platform, socklen_t length) {
    if (connect(Fd(sock), platform, length) == 0) {
        return ConnectProgress::Connected;
    }
    // An interrupted connect goes on in the background, as one in progress does.
    return errno == EINPROGRESS || errno == EINTR ? ConnectProgress::Pending
                                                  : ConnectProgress::Failed;
}

// Polls one socket for `events`, going on after a signal with the time that is left; the poll's
// result, or -1 on a failure.
int PollWithin(SocketHandle sock, short events, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    const KillableWait killable(timeoutMilliseconds != 0);
    for (;;) {
        int wait = timeoutMilliseconds;
        if (timeoutMilliseconds > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd watched{Fd(sock), events, 0};
        const int result = poll(&watched, 1, wait);
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
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
    const int result = PollWithin(sock, POLLOUT, timeoutMilliseconds);
    if (result == 0) {
        return ConnectProgress::Pending;
    }
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (result < 0 || getsockopt(Fd(sock), SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 ||
        error != 0) {
        return ConnectProgress::Failed;
    }
    return ConnectProgress::Connected;
}

bool PollWritable(SocketHandle sock, int timeoutMilliseconds) {
    return PollWithin(sock, POLLOUT, timeoutMilliseconds) > 0;
}

SocketHandle Accept(SocketHandle listener, std::string& peer) {
    for (;;) {
        sockaddr_storage platform{};
        socklen_t length = sizeof platform;
        const int accepted = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&platform), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted >= 0) {
            if (!TextOf(platform, peer)) {
                peer.clear();
            }
            return accepted;
        }
        if (errno != EINTR) {
            return INVALID_SOCKET_HANDLE;
        }
    }
}

Readiness PollReadable(SocketHandle sock, int timeoutMilliseconds) {
    pollfd watched{Fd(sock), POLLIN, 0};
    const KillableWait killable(timeoutMilliseconds != 0);
    const int result = poll(&watched, 1, timeoutMilliseconds);
    if (result < 0) {
        return Readiness::Failed;
    }
    // Hang-ups and errors count as readable: the receive that follows reports them.
    return result == 0 ? Readiness::NotReadable : Readiness::Readable;
}

PeekResult PeekOneByte(SocketHandle sock) {
    // After a reset the bytes that came before it can still be read here, but the peer has
    // aborted the connection: it is gone, whatever it left unread.
    tcp_info info{};
    socklen_t infoLength = sizeof info;
    if (getsockopt(Fd(sock), IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0 &&
        info.tcpi_state == TCP_CLOSE) {
        return PeekResult::ConnectionGone;
    }
    unsigned char byte = 0;
    ssize_t result;
    do {
        result = recv(Fd(sock), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    if (result > 0) {
        return PeekResult::Data;
    }
    if (result == 0) {
        return PeekResult::OrderlyClose;
    }
    switch (errno) {
        case ENETRESET:
        case ECONNABORTED:
        case ECONNRESET:
        case EINVAL:
        case EPIPE:
        case ETIMEDOUT:
            return PeekResult::ConnectionGone;
        default:
            return PeekResult::OtherError;
    }
}

IoResult SendSome(SocketHandle sock, const void* data, std::size_t length) {
    ssize_t result;
    do {
        result = send(Fd(sock), data, length, MSG_NOSIGNAL);
    } while (result < 0 && errno == EINTR);
    return Completed(result);
}

IoResult SendDatagram(SocketHandle sock, const void* data, std::size_t length,
                      const SocketAddress& destination) {
    const sockaddr_in platform = ToPlatform(destination);
    ssize_t result;
    do {
        result = sendto(Fd(sock), data, length, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&platform), sizeof platform);
    } while (result < 0 && errno == EINTR);
    return Completed(result);
}

IoResult ReceiveStream(SocketHandle sock, void* data, std::size_t capacity, bool wait) {
    ssize_t result;
    do {
        const KillableWait killable(wait);
        result = recv(Fd(sock), data, capacity, wait ? 0 : MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    return Completed(result);
}

IoResult ReceiveDatagram(SocketHandle sock, void* data, std::size_t capacity, SocketAddress& from,
                         bool wait) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t result;
    do {
        // MSG_TRUNC makes a datagram report its real length, so that one longer than the
        // area is told apart from one that fits.
        const KillableWait killable(wait);
        result = recvfrom(Fd(sock), data, capacity, MSG_TRUNC | (wait ? 0 : MSG_DONTWAIT),
                          reinterpret_cast<sockaddr*>(&sender), &senderLength);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return IoResult{0, ClassifyError(errno)};
    }
    from = FromPlatform(sender);
    if (static_cast<std::size_t>(result) > capacity) {
        return IoResult{0, IoError::TooLarge};
    }
    return IoResult{static_cast<std::size_t>(result), IoError::None};
}

IoResult PeekStream(SocketHandle sock, void* data, std::size_t capacity) {
    ssize_t result;
    do {
        result = recv(Fd(sock), data, capacity, MSG_PEEK | MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    return Completed(result);
}

bool PendingByteCount(SocketHandle sock, std::uint32_t& count) {
    int pending = 0;
    if (ioctl(Fd(sock), FIONREAD, &pending) != 0 || pending < 0) {
        return false;
    }
    count = static_cast<std::uint32_t>(pending);
    return true;
}

bool PeerAddressTextOf(SocketHandle sock, std::string& text) {
    sockaddr_storage platform{};
    socklen_t length = sizeof platform;
    return getpeername(Fd(sock), reinterpret_cast<sockaddr*>(&platform), &length) == 0 &&
           TextOf(platform, text);
}

bool LocalPortOf(SocketHandle sock, std::uint16_t& port) {
    sockaddr_storage platform{};
    socklen_t length = sizeof platform;
    if (getsockname(Fd(sock), reinterpret_cast<sockaddr*>(&platform), &length) != 0) {
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
    // gethostname may leave a name that does not fit without its NUL; such a name counts as
    // unreadable.
    if (gethostname(name, capacity) != 0) {
        return false;
    }
    return std::memchr(name, '\0', capacity) != nullptr;
}

bool OpenWakeChannel(WakeChannel& channel) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    channel.readEnd = ends[0];
    channel.writeEnd = ends[1];
    return true;
}

void SignalWakeChannel(const WakeChannel& channel) {
    const char signal = 1;
    ssize_t result;
    do {
        result = write(Fd(channel.writeEnd), &signal, 1);
    } while (result < 0 && errno == EINTR);
}

void DrainWakeChannel(const WakeChannel& channel) {
    char signals[64];
    ssize_t result;
    do {
        result = read(Fd(channel.readEnd), signals, sizeof signals);
    } while (result > 0 || (result < 0 && errno == EINTR));
}

void CloseWakeChannel(WakeChannel& channel) {
    if (channel.readEnd != INVALID_SOCKET_HANDLE) {
        close(Fd(channel.readEnd));
        close(Fd(channel.writeEnd));
    }
    channel = WakeChannel{};
}

WaitResult WaitReadableOrWoken(SocketHandle sock, const WakeChannel& channel) {
    pollfd watched[2] = {{Fd(sock), POLLIN, 0}, {Fd(channel.readEnd), POLLIN, 0}};
    const KillableWait killable;
    for (;;) {
        if (poll(watched, 2, -1) >= 0) {
            break;
        }
        if (errno != EINTR) {
            return WaitResult::Failed;
        }
    }
    if (watched[1].revents != 0) {
        return WaitResult::Woken;
    }
    return WaitResult::Readable;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

}  // namespace sockets
