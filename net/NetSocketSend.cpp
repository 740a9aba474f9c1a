#include "net/NetSocket.h"

#include "SocketOps.h"

#include <algorithm>
#include <cstring>

using namespace sockets;

int NetSocket::Send(const void* data, int len, std::uint16_t port, const char* host) {
    if (!IsOpen() || (flags & NS_SERVER) || len < 0) {
        return 1;
    }
    const auto length = static_cast<std::size_t>(len);
    if (flags & NS_UDP) {
        return SendDatagram(sock, data, length, MakeAddress(host, port)).error == IoError::None ? 0
                                                                                                : 1;
    }
    if (flow.HasFailed() || FlushKeptOutput() != 0) {
        return 1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t written = 0;
    // Only write directly when nothing is kept, so that bytes reach the wire in order.
    if (flow.KeptOutput().Empty() && !WriteSome(bytes, length, written)) {
        FailConnection();
        return 1;
    }
    const std::size_t rest = length - written;
    return rest == 0 ? 0 : Keep(bytes + written, rest);
}

int NetSocket::KeepOutput(const void* data, int len) {
    if (!IsOpen() || (flags & (NS_SERVER | NS_UDP)) || len < 0 || flow.HasFailed()) {
        return 1;
    }
    const auto length = static_cast<std::size_t>(len);
    // Only what the socket cannot take counts against the limit.
    if (flow.WouldPassLimit(length) && FlushKeptOutput() != 0) {
        return 1;
    }
    return Keep(data, length);
}

int NetSocket::Keep(const void* data, std::size_t length) {
    if (!flow.KeepOutput(data, length)) {
        // The flow has failed the connection as fallen behind; the peer is shown the end.
        Shutdown(sock);
        return 1;
    }
    return 0;
}

void NetSocket::SendDelimited(const void* data, int len, const char* delimiter, std::uint16_t port,
                              const char* host) {
    // Send itself refuses an endpoint that is not open or is a listener.
    Send(data, len, port, host);
    Send(delimiter, static_cast<int>(std::strlen(delimiter)), port, host);
}

int NetSocket::FlushKeptOutput() {
    if (flow.HasFailed()) {
        return 1;
    }
    const ByteBuffer& kept = flow.KeptOutput();
    if (kept.Empty() || !IsOpen()) {
        return 0;
    }
    std::size_t written = 0;
    const bool ok = WriteSome(kept.Data(), kept.Size(), written);
    flow.Written(written);
    if (!ok) {
        FailConnection();
        return 1;
    }
    return 0;
}

bool NetSocket::WriteSome(const std::uint8_t* data, std::size_t length, std::size_t& written) {
    written = 0;
    while (written < length) {
        const std::size_t rest = length - written;
        const IoResult result = SendSome(sock, data + written, flow.NextWrite(rest));
        if (result.error == IoError::WouldBlock) {
            return true;
        }
        if (result.error != IoError::None) {
            return false;
        }
        written += result.bytes;
    }
    return true;
}

void NetSocket::FailConnection() {
    // The connection can no longer carry whole frames in order: shut it down so the peer sees
    // the end, and report it as gone from now on.
    flow.Fail();
    Shutdown(sock);
}
