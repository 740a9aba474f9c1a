#include "fuzz/ServerSideView.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

// Where the kernel's TCP information keeps the count of bytes the peer has acknowledged (Linux
// 4.1 and later); the C library's declaration of the record ends before it.
constexpr std::size_t BYTES_ACKED_OFFSET = 120;
static_assert(sizeof(tcp_info) <= BYTES_ACKED_OFFSET);

// Netlink messages and their attributes are aligned to 4 bytes.
constexpr std::size_t Aligned(std::size_t length) {
    return (length + 3) & ~std::size_t{3};
}

// The bytes of the connection the peer has acknowledged, from the TCP information attached to
// the reply; 0 when there is none.
std::uint64_t AcknowledgedBytes(const nlmsghdr* header) {
    const auto* message = reinterpret_cast<const char*>(header);
    std::size_t at = Aligned(sizeof(nlmsghdr)) + Aligned(sizeof(inet_diag_msg));
    while (at + sizeof(rtattr) <= header->nlmsg_len) {
        rtattr attribute{};
        std::memcpy(&attribute, message + at, sizeof attribute);
        if (attribute.rta_len < sizeof(rtattr) || at + attribute.rta_len > header->nlmsg_len) {
            return 0;
        }
        const std::size_t info = at + Aligned(sizeof(rtattr));
        if (attribute.rta_type == INET_DIAG_INFO &&
            at + attribute.rta_len >= info + BYTES_ACKED_OFFSET + sizeof(std::uint64_t)) {
            std::uint64_t acknowledged = 0;
            std::memcpy(&acknowledged, message + info + BYTES_ACKED_OFFSET, sizeof acknowledged);
            return acknowledged;
        }
        at += Aligned(attribute.rta_len);
    }
    return 0;
}

}  // namespace

ServerSideView::ServerSideView() {
    fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
}

ServerSideView::~ServerSideView() {
    if (fd >= 0) {
        close(fd);
    }
}

ServerSide ServerSideView::Look(std::uint16_t serverPort, std::uint16_t clientPort) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.header.nlmsg_seq = ++sequence;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.idiag_ext = 1 << (INET_DIAG_INFO - 1);
    message.request.id.idiag_sport = htons(serverPort);
    message.request.id.idiag_dport = htons(clientPort);
    message.request.id.idiag_src[0] = htonl(INADDR_LOOPBACK);
    message.request.id.idiag_dst[0] = htonl(INADDR_LOOPBACK);
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ServerSide side;
    if (sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof message)) {
        side.state = ServerSide::State::Other;
        return side;
    }
    alignas(nlmsghdr) char reply[4096];
    for (;;) {
        const ssize_t length = recv(fd, reply, sizeof reply, 0);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length < static_cast<ssize_t>(sizeof(nlmsghdr))) {
            side.state = ServerSide::State::Other;
            return side;
        }
        const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
        if (header->nlmsg_seq != sequence) {
            continue;
        }
        if (header->nlmsg_type == NLMSG_ERROR) {
            // Not found: the connection is gone from the kernel's tables.
            return side;
        }
        // NLMSG_DATA, without the C cast of the macro.
        const auto* found = reinterpret_cast<const inet_diag_msg*>(
            reinterpret_cast<const unsigned char*>(header) + NLMSG_ALIGN(sizeof(nlmsghdr)));
        // The lookup falls back to the listener when the connection itself is gone.
        if (found->id.idiag_dport != htons(clientPort)) {
            return side;
        }
        switch (found->idiag_state) {
            case TCP_ESTABLISHED:
                side.state = ServerSide::State::Established;
                break;
            case TCP_CLOSE_WAIT:
                side.state = ServerSide::State::PeerFinished;
                break;
            case TCP_CLOSE:
                side.state = ServerSide::State::Missing;
                break;
            default:
                side.state = ServerSide::State::Other;
                break;
        }
        side.unread = found->idiag_rqueue;
        side.written = AcknowledgedBytes(header) + found->idiag_wqueue;
        return side;
    }
}

ServerSide ServerSideView::SteadyLook(std::uint16_t serverPort, std::uint16_t clientPort) {
    // An acknowledgement lands between the two moments only while sent bytes are in flight.
    constexpr int MOST_READINGS = 1000;
    ServerSide previous = Look(serverPort, clientPort);
    for (int reading = 1; reading < MOST_READINGS; ++reading) {
        const ServerSide current = Look(serverPort, clientPort);
        if (current.state == previous.state && current.unread == previous.unread &&
            current.written == previous.written) {
            return current;
        }
        previous = current;
    }
    return previous;
}
