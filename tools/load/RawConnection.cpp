#include "tools/load/RawConnection.h"

#include "net/LocalAddresses.h"
#include "net/RawListener.h"

bool RawConnection::Start(std::uint16_t port, int windowBytes) {
    return stream.StartConnect(Ipv4LoopbackAddress(port), RawStreamSetup{windowBytes, 0, true});
}

RawConnection::Status RawConnection::Connect() {
    switch (stream.AwaitConnect()) {
        case RawStream::Connection::Open:
            return Status::Open;
        case RawStream::Connection::Connecting:
            return Status::Waiting;
        default:
            return Status::Failed;
    }
}

long RawConnection::Write(const void* data, std::size_t length) {
    const StreamTransfer written = stream.WriteSome(data, length);
    switch (written.outcome) {
        case StreamOutcome::Moved:
            return static_cast<long>(written.bytes);
        case StreamOutcome::WouldBlock:
            return 0;
        default:
            return -1;
    }
}

RawConnection::Status RawConnection::Read(std::string& into, std::size_t most) {
    if (!stream.IsOpen()) {
        return Status::Failed;
    }
    char chunk[4096];
    while (most > 0) {
        const std::size_t ask = most < sizeof chunk ? most : sizeof chunk;
        const StreamTransfer read = stream.ReadSome(chunk, ask);
        switch (read.outcome) {
            case StreamOutcome::Moved:
                into.append(chunk, read.bytes);
                most -= read.bytes;
                break;
            case StreamOutcome::WouldBlock:
                return Status::Open;
            case StreamOutcome::Ended:
                return Status::Ended;
            default:
                return Status::Failed;
        }
    }
    return Status::Open;
}

void RawConnection::ShutdownSending() {
    stream.ShutdownWriting();
}

void RawConnection::Reset() {
    stream.Reset();
}

void RawConnection::Close() {
    stream.Close();
}

std::uint16_t FreeLoopbackPort() {
    RawListener probe;
    return probe.Open(Ipv4LoopbackAddress(0), 1) ? probe.Port() : 0;
}
