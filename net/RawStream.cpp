#include "net/RawStream.h"

#include "SocketOps.h"

using namespace sockets;

namespace {

StreamOutcome OutcomeOf(IoError error) {
    switch (error) {
        case IoError::None:
            return StreamOutcome::Moved;
        case IoError::WouldBlock:
            return StreamOutcome::WouldBlock;
        case IoError::ConnectionGone:
            return StreamOutcome::Reset;
        default:
            return StreamOutcome::Failed;
    }
}

RawStream::Connection ConnectionAfter(ConnectProgress progress) {
    switch (progress) {
        case ConnectProgress::Connected:
            return RawStream::Connection::Open;
        case ConnectProgress::Pending:
            return RawStream::Connection::Connecting;
        default:
            return RawStream::Connection::Failed;
    }
}

}  // namespace

StreamTransfer WriteSomeOn(SocketHandle sock, const void* data, std::size_t length) {
    const IoResult result = SendSome(sock, data, length);
    return StreamTransfer{result.bytes, OutcomeOf(result.error)};
}

StreamTransfer ReadSomeOn(SocketHandle sock, void* data, std::size_t capacity) {
    const IoResult result = ReceiveStream(sock, data, capacity, false);
    // A receive into room for something that returns nothing is the peer's orderly close.
    if (result.error == IoError::None && result.bytes == 0 && capacity > 0) {
        return StreamTransfer{0, StreamOutcome::Ended};
    }
    return StreamTransfer{result.bytes, OutcomeOf(result.error)};
}

RawStream::RawStream() {
    StartLayer();
}

RawStream::~RawStream() {
    Close();
    StopLayer();
}

bool RawStream::Create(bool ipv6, const RawStreamSetup& setup) {
    Reset();
    sock = ipv6 ? CreateStreamIpv6() : CreateStream();
    if (sock == INVALID_SOCKET_HANDLE) {
        return false;
    }
    // A segment size is only a wish: Windows sets none.
    if (setup.maxSegment > 0) {
        SetMaxSegmentSize(sock, setup.maxSegment);
    }
    if (!SetNonBlocking(sock) ||
        (setup.receiveWindow > 0 && !SetReceiveBufferSize(sock, setup.receiveWindow)) ||
        (setup.noDelay && !sockets::SetNoDelay(sock))) {
        Close();
        return false;
    }
    return true;
}

bool RawStream::StartConnect(const SocketAddress& address, const RawStreamSetup& setup) {
    if (!Create(false, setup)) {
        return false;
    }
    connection = ConnectionAfter(sockets::StartConnect(sock, address));
    return KeepUnlessFailed();
}

bool RawStream::StartConnectIpv6(const Ipv6Bytes& address, std::uint16_t port,
                                 const RawStreamSetup& setup) {
    if (!Create(true, setup)) {
        return false;
    }
    connection = ConnectionAfter(sockets::StartConnectIpv6(sock, address, port));
    return KeepUnlessFailed();
}

bool RawStream::KeepUnlessFailed() {
    if (connection == Connection::Failed) {
        Close();
        return false;
    }
    return true;
}

RawStream::Connection RawStream::AwaitConnect(int waitMs) {
    // The socket's error is taken once, so an ended connect keeps the outcome it had.
    if (connection == Connection::Connecting) {
        connection = ConnectionAfter(FinishConnect(sock, waitMs));
    }
    return connection;
}

void RawStream::Adopt(SocketHandle accepted) {
    Reset();
    sock = accepted;
    connection = Connection::Open;
}

StreamTransfer RawStream::WriteSome(const void* data, std::size_t length) {
    if (!IsOpen()) {
        return StreamTransfer{};
    }
    return WriteSomeOn(sock, data, length);
}

StreamTransfer RawStream::ReadSome(void* data, std::size_t capacity) {
    if (!IsOpen()) {
        return StreamTransfer{};
    }
    return ReadSomeOn(sock, data, capacity);
}

bool RawStream::WaitReadable(int waitMs) {
    return IsOpen() && PollReadable(sock, waitMs) == Readiness::Readable;
}

bool RawStream::WaitWritable(int waitMs) {
    return IsOpen() && PollWritable(sock, waitMs);
}

bool RawStream::HasByteToRead() {
    unsigned char byte = 0;
    return IsOpen() && PeekStream(sock, &byte, 1).bytes == 1;
}

bool RawStream::ShutdownWriting() {
    return IsOpen() && ShutdownSending(sock);
}

void RawStream::Reset() {
    if (IsOpen()) {
        SetResetOnClose(sock);
    }
    Close();
}

void RawStream::Close() {
    if (IsOpen()) {
        sockets::Close(sock);
        sock = INVALID_SOCKET_HANDLE;
    }
    connection = Connection::Closed;
}

bool RawStream::SetReceiveWindow(int bytes) {
    return IsOpen() && SetReceiveBufferSize(sock, bytes);
}

bool RawStream::SetNoDelay() {
    return IsOpen() && sockets::SetNoDelay(sock);
}

std::uint16_t RawStream::LocalPort() const {
    std::uint16_t port = 0;
    if (!IsOpen() || !LocalPortOf(sock, port)) {
        return 0;
    }
    return port;
}
