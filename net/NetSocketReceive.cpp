#include "net/NetSocket.h"

#include "SocketOps.h"

#include "sync/Clock.h"

#include <algorithm>
#include <cstring>

using namespace sockets;

int NetSocket::Receive(bool wait) {
    if (!IsOpen() || (flags & NS_SERVER)) {
        return 1;
    }
    if (flags & NS_THREADED) {
        return 0;
    }
    return (flags & NS_UDP) ? ReceiveDatagrams(wait) : ReceiveStream(wait);
}

int NetSocket::ReceiveStream(bool wait) {
    // Only the owner's thread reaches here (threaded endpoints return before), so the buffer
    // needs no lock.
    if (wait && ReceiveRoom(RECEIVE_CHUNK) > 0) {
        const std::size_t room = ReceiveRoom(RECEIVE_CHUNK);
        const IoResult result =
            sockets::ReceiveStream(sock, buffer.PrepareAppend(room), room, true);
        if (result.error != IoError::None) {
            return 1;
        }
        if (result.bytes == 0) {
            peerClosed = true;
        }
        buffer.Commit(result.bytes);
    }
    std::uint32_t count = 0;
    if (!PendingByteCount(sock, count)) {
        return 1;
    }
    while (count > 0 && ReceiveRoom(RECEIVE_CHUNK) > 0) {
        const std::size_t size = std::min<std::size_t>(count, ReceiveRoom(RECEIVE_CHUNK));
        const IoResult result =
            sockets::ReceiveStream(sock, buffer.PrepareAppend(size), size, false);
        if (result.error != IoError::None) {
            return 1;
        }
        buffer.Commit(result.bytes);
        if (!PendingByteCount(sock, count)) {
            return 1;
        }
    }
    return 0;
}

int NetSocket::ReceiveInPlace() {
    if (!IsOpen() || (flags & (NS_SERVER | NS_UDP | NS_THREADED))) {
        return Receive(false);
    }
    const std::size_t room = ReceiveRoom(RECEIVE_AREA);
    if (room == 0) {
        return 0;
    }
    // Straight into the buffer's spare room, made at least IN_PLACE_ROOM long so that what a
    // peer sends between two reads usually fits. A plain receive costs less than one into two
    // areas, so the stack area is used only by a second receive, when the first filled the room.
    const std::size_t direct = std::min(room, std::max(buffer.SpareRoomSize(), IN_PLACE_ROOM));
    const IoResult result =
        sockets::ReceiveStream(sock, buffer.PrepareAppend(direct), direct, false);
    if (result.error != IoError::None) {
        return result.error == IoError::WouldBlock ? 0 : 1;
    }
    buffer.Commit(result.bytes);
    if (result.bytes == 0) {
        peerClosed = true;
        return 0;
    }
    return result.bytes < direct || direct == room ? 0 : ReceiveIntoArea(room - direct);
}

int NetSocket::ReceiveIntoArea(std::size_t most) {
    std::uint8_t area[RECEIVE_AREA];
    const IoResult result = sockets::ReceiveStream(sock, area, most, false);
    if (result.error != IoError::None) {
        return result.error == IoError::WouldBlock ? 0 : 1;
    }
    if (result.bytes == 0) {
        peerClosed = true;
    }
    buffer.Append(area, result.bytes);
    return 0;
}

std::span<const std::uint8_t> NetSocket::UnreadBytes() const {
    if (flags & NS_THREADED) {
        return {};
    }
    return {buffer.Data(), buffer.Size()};
}

int NetSocket::ReceiveDatagrams(bool wait) {
    // Datagrams are taken while the socket is readable rather than by the pending count, which
    // on this platform gives only the first datagram's size and is 0 for an empty one.
    bool waitForFirst = wait;
    while (ReceiveRoom(RECEIVE_CHUNK) == RECEIVE_CHUNK &&
           (waitForFirst || PollReadable(sock, 0) == Readiness::Readable)) {
        SocketAddress from;
        const IoResult result = ReceiveDatagram(sock, buffer.PrepareAppend(RECEIVE_CHUNK),
                                                RECEIVE_CHUNK, from, waitForFirst);
        waitForFirst = false;
        if (result.error != IoError::None) {
            return 1;
        }
        BufferGuard guard(*this);
        buffer.Commit(result.bytes);
        SetSenderAddress(from);
    }
    return 0;
}

int NetSocket::Read(void* dst, std::uint32_t n) {
    Receive((flags & NS_BLOCKING) && BufferedBytes() == 0);
    BufferGuard guard(*this);
    const std::size_t count = n == 0 ? buffer.Size() : n;
    if (buffer.Size() < count) {
        return 1;
    }
    if (count > 0) {
        std::memcpy(dst, buffer.Data(), count);
        buffer.Consume(count);
    }
    return 0;
}

int NetSocket::Peek(void* dst, std::uint32_t n) {
    BufferGuard guard(*this);
    if (buffer.Size() < n) {
        return 1;
    }
    if (n > 0) {
        std::memcpy(dst, buffer.Data(), n);
    }
    return 0;
}

std::uint32_t NetSocket::PeekUpTo(void* dst, std::uint32_t capacity) {
    BufferGuard guard(*this);
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, buffer.Size()));
    if (count > 0) {
        std::memcpy(dst, buffer.Data(), count);
    }
    return count;
}

void NetSocket::Discard(std::uint32_t n) {
    BufferGuard guard(*this);
    buffer.Consume(n);
}

int NetSocket::ReadUntil(char* dst, std::size_t capacity, const char* delimiter) {
    const auto* pattern = reinterpret_cast<const std::uint8_t*>(delimiter);
    const std::size_t length = std::strlen(delimiter);
    if (capacity > 0) {
        dst[0] = '\0';
    }
    for (;;) {
        Receive((flags & NS_BLOCKING) && BufferedBytes() == 0);
        // Taken before the search: a receiver thread appends its last bytes before it marks the
        // end, so an end seen here means the search sees every byte there will be.
        const bool ended = !IsOpen() || peerClosed || flow.HasFailed();
        {
            BufferGuard guard(*this);
            const std::size_t position = buffer.Find(pattern, length);
            if (position < buffer.Size() || length == 0) {
                if (position >= capacity) {
                    return 1;
                }
                std::memcpy(dst, buffer.Data(), position);
                dst[position] = '\0';
                buffer.Consume(position + length);
                return 0;
            }
            // A full buffer without the delimiter can never complete.
            if (flow.InputFull(buffer.Size())) {
                return 1;
            }
        }
        if (!(flags & NS_BLOCKING) || ended) {
            return 1;
        }
        // Without a receiver thread nothing else notices a close that follows the last bytes:
        // Receive found them by the pending count, which stays 0 after the end. A datagram
        // endpoint has no connection to lose, and an empty datagram would pass for a close.
        if (!(flags & (NS_THREADED | NS_UDP)) && IsDisconnected()) {
            return 1;
        }
        SleepMilliseconds(READ_RETRY_MS);
    }
}

NetSocket::BufferGuard::BufferGuard(NetSocket& endpoint)
    : held((endpoint.flags & NS_THREADED) ? &endpoint.bufferLock : nullptr) {
    if (held != nullptr) {
        held->Lock();
    }
}

NetSocket::BufferGuard::~BufferGuard() {
    if (held != nullptr) {
        held->Unlock();
    }
}

std::uint32_t NetSocket::BufferedBytes() {
    BufferGuard guard(*this);
    return static_cast<std::uint32_t>(buffer.Size());
}

void NetSocket::ReceiverLoop(void* endpoint) {
    auto* self = static_cast<NetSocket*>(endpoint);
    std::uint8_t chunk[RECEIVE_CHUNK];
    const bool datagrams = (self->flags & NS_UDP) != 0;
    for (;;) {
        if (WaitReadableOrWoken(self->sock, self->receiverWake) != WaitResult::Readable) {
            return;
        }
        if (datagrams) {
            SocketAddress from;
            const IoResult result = ReceiveDatagram(self->sock, chunk, sizeof chunk, from, false);
            // An empty datagram is normal; a failed or oversized one is dropped.
            if (result.error != IoError::None) {
                continue;
            }
            MutexGuard guard(self->bufferLock);
            self->buffer.Append(chunk, result.bytes);
            self->SetSenderAddress(from);
            continue;
        }
        const IoResult result = sockets::ReceiveStream(self->sock, chunk, sizeof chunk, false);
        if (result.error == IoError::WouldBlock) {
            continue;
        }
        // The connection has ended: nothing more can arrive, so the loop ends by itself.
        if (result.error != IoError::None || result.bytes == 0) {
            self->peerClosed = true;
            return;
        }
        MutexGuard guard(self->bufferLock);
        self->buffer.Append(chunk, result.bytes);
    }
}
