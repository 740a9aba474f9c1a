#include "net/NetSocket.h"

#include "SocketOps.h"

#include <cstdio>

using namespace sockets;

namespace {

// Letters of the C locale only: bytes from 0x80 up are not letters.
bool HasLetter(const char* text) {
    for (; *text != '\0'; ++text) {
        const char c = *text;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            return true;
        }
    }
    return false;
}

}  // namespace

SocketAddress NetSocket::MakeAddress(const char* host, std::uint16_t port) {
    SocketAddress address;
    address.family = InetFamily();
    address.port = HostToNetwork16(port);
    if (host == nullptr) {
        address.address = 0;
    } else if (HasLetter(host)) {
        if (!LookupHostByName(host, address.address)) {
            address.address = ParseDottedAddress("127.0.0.1");
        }
    } else {
        address.address = ParseDottedAddress(host);
    }
    return address;
}

bool NetSocket::HostIsKnown(const char* host) {
    std::uint32_t address = 0;
    return host == nullptr || !HasLetter(host) || LookupHostByName(host, address);
}

std::uint16_t NetSocket::LocalPort() const {
    std::uint16_t port = 0;
    if (!IsOpen() || !LocalPortOf(sock, port)) {
        return 0;
    }
    return port;
}

std::string NetSocket::LocalHostAddress() {
    // Names of at most 15 characters are read, as the address text they resolve to is.
    char name[16] = {};
    std::uint32_t address = 0;
    if (!LocalHostName(name, sizeof name) || !LookupHostByName(name, address)) {
        return std::string();
    }
    return AddressToText(address);
}

std::string NetSocket::AddressText(const SocketAddress& address) {
    return AddressToText(address.address);
}

std::string NetSocket::PeerAddress() {
    if (flags & NS_UDP) {
        BufferGuard guard(*this);
        return std::string(senderAddress);
    }
    std::string peer;
    if (IsOpen() && PeerAddressTextOf(sock, peer)) {
        return peer;
    }
    // A connection that has already been reset has no peer to ask for; the address it was
    // accepted from still names it.
    return std::string(acceptedPeer);
}

void NetSocket::SetSenderAddress(const SocketAddress& sender) {
    const std::string text = AddressToText(sender.address);
    std::snprintf(senderAddress, sizeof senderAddress, "%s", text.c_str());
}

void NetSocket::SetAcceptedPeer(const std::string& peer) {
    std::snprintf(acceptedPeer, sizeof acceptedPeer, "%s", peer.c_str());
}
