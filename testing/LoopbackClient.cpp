#include "testing/LoopbackClient.h"

#include "net/LocalAddresses.h"
#include "testing/Deadline.h"

#include <chrono>

// The stream stays non-blocking from its creation on; the calls that wait do so in a poll, with
// the bound each of them names.

namespace {

using Clock = std::chrono::steady_clock;

// Small segments and a small receive window; Windows sets no segment size, so there a narrow
// window is the small receive buffer alone.
constexpr RawStreamSetup NARROW{4096, 536, false};

// A wait as long as the kernel takes.
constexpr int WITHOUT_LIMIT = -1;

bool Failed(StreamOutcome outcome) {
    return outcome != StreamOutcome::Moved && outcome != StreamOutcome::WouldBlock;
}

}  // namespace

LoopbackClient::LoopbackClient(std::uint16_t port, Window window) {
    Connect(port, window);
}

LoopbackClient::~LoopbackClient() {
    Close();
}

bool LoopbackClient::FinishConnect(bool started) {
    if (!started || stream.AwaitConnect(WITHOUT_LIMIT) != RawStream::Connection::Open) {
        Close();
        return false;
    }
    return true;
}

bool LoopbackClient::Connect(std::uint16_t port, Window window) {
    const RawStreamSetup setup = window == Window::Narrow ? NARROW : RawStreamSetup{};
    return FinishConnect(stream.StartConnect(Ipv4LoopbackAddress(port), setup));
}

bool LoopbackClient::ConnectIpv6(std::uint16_t port) {
    return FinishConnect(stream.StartConnectIpv6(Ipv6LoopbackAddress(), port));
}

bool LoopbackClient::SendBytes(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t sent = 0;
    while (sent < length) {
        const StreamTransfer written = stream.WriteSome(bytes + sent, length - sent);
        if (Failed(written.outcome)) {
            return false;
        }
        if (written.outcome == StreamOutcome::WouldBlock) {
            WaitWritable(WITHOUT_LIMIT);
        }
        sent += written.bytes;
    }
    return true;
}

bool LoopbackClient::SendAtOnce(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const std::size_t taken = SendWithoutWaiting(bytes.data() + sent, bytes.size() - sent);
        if (taken == 0) {
            return false;
        }
        sent += taken;
    }
    return true;
}

std::size_t LoopbackClient::SendWithoutWaiting(const void* data, std::size_t length) {
    return stream.WriteSome(data, length).bytes;
}

long LoopbackClient::SendWithin(const void* data, std::size_t length, int waitMs) {
    if (!WaitWritable(waitMs)) {
        return 0;
    }
    const StreamTransfer written = stream.WriteSome(data, length);
    return Failed(written.outcome) ? -1 : static_cast<long>(written.bytes);
}

bool LoopbackClient::WaitWritable(int timeoutMs) {
    return stream.WaitWritable(timeoutMs);
}

std::optional<std::vector<std::uint8_t>> LoopbackClient::ReadExactly(std::size_t length,
                                                                     int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes(length);
    std::size_t received = 0;
    while (received < length) {
        if (!WaitReadable(RemainingMs(deadline))) {
            return std::nullopt;
        }
        const StreamTransfer read = stream.ReadSome(bytes.data() + received, length - received);
        if (Failed(read.outcome)) {
            return std::nullopt;
        }
        received += read.bytes;
    }
    return bytes;
}

std::optional<Frame> LoopbackClient::ReadFrame(int timeoutMs) {
    auto bytes = ReadExactly(4, timeoutMs);
    const auto value = bytes ? ReadExactly((*bytes)[3], timeoutMs) : std::nullopt;
    if (!value) {
        return std::nullopt;
    }
    bytes->insert(bytes->end(), value->begin(), value->end());
    Frame frame;
    DecodeTestFrame(bytes->data(), bytes->size(), frame);
    return frame;
}

std::optional<std::uint16_t> LoopbackClient::ReadGreeting(int timeoutMs) {
    const auto first = ReadFrame(timeoutMs);
    const auto second = ReadFrame(timeoutMs);
    if (!first || !second) {
        return std::nullopt;
    }
    return first->target;
}

bool LoopbackClient::ReadAvailable(std::vector<std::uint8_t>& into, bool* inOrder) {
    std::uint8_t chunk[8192];
    for (;;) {
        const StreamTransfer read = stream.ReadSome(chunk, sizeof chunk);
        if (read.outcome == StreamOutcome::Moved) {
            into.insert(into.end(), chunk, chunk + read.bytes);
            continue;
        }
        const bool waiting = read.outcome == StreamOutcome::WouldBlock;
        if (!waiting && inOrder != nullptr) {
            *inOrder = read.outcome == StreamOutcome::Ended;
        }
        return waiting;
    }
}

std::vector<std::uint8_t> LoopbackClient::ReadUntilClosed(int timeoutMs, bool& ended,
                                                          bool* inOrder) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes;
    ended = false;
    while (Clock::now() < deadline) {
        if (!ReadAvailable(bytes, inOrder)) {
            ended = true;
            break;
        }
        WaitReadable(50);
    }
    return bytes;
}

bool LoopbackClient::WaitReadable(int timeoutMs) {
    return stream.WaitReadable(timeoutMs);
}

bool LoopbackClient::NothingArrives(int waitMs) {
    // Readable with nothing to read means the connection ended; that is not a byte arriving.
    return !WaitReadable(waitMs) || !stream.HasByteToRead();
}

bool LoopbackClient::ClosedByPeer(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t scratch[4096];
    for (;;) {
        if (!WaitReadable(RemainingMs(deadline))) {
            return false;
        }
        if (Failed(stream.ReadSome(scratch, sizeof scratch).outcome)) {
            return true;
        }
    }
}

void LoopbackClient::ShutdownWrite() {
    stream.ShutdownWriting();
}

void LoopbackClient::Reset() {
    stream.Reset();
}

void LoopbackClient::Close() {
    stream.Close();
}

void LoopbackClient::SetReceiveBufferSize(int bytes) {
    stream.SetReceiveWindow(bytes);
}

void LoopbackClient::EnableNoDelay() {
    stream.SetNoDelay();
}
