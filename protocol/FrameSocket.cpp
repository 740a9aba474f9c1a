#include "protocol/FrameSocket.h"

bool TakeWholeFrame(NetSocket& endpoint, Frame& frame) {
    // One look at the front of the buffer: the header and as much of the value as is there.
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::uint32_t buffered = endpoint.PeekUpTo(bytes, MAX_FRAME_SIZE);
    const std::size_t size = DecodeFrame(bytes, buffered, frame);
    if (size == 0) {
        return false;
    }
    endpoint.Discard(static_cast<std::uint32_t>(size));
    return true;
}

bool PeekWholeFrame(const NetSocket& endpoint, FrameView& frame) {
    const std::span<const std::uint8_t> unread = endpoint.UnreadBytes();
    return ViewFrame(unread.data(), unread.size(), frame) != 0;
}

bool WholeFrameBuffered(NetSocket& endpoint) {
    std::uint8_t header[FRAME_HEADER_SIZE];
    return endpoint.Peek(header, FRAME_HEADER_SIZE) == 0 &&
           endpoint.BufferedBytes() >= FRAME_HEADER_SIZE + header[3];
}

bool TakeFrame(NetSocket& endpoint, Frame& frame) {
    endpoint.Receive(false);
    return TakeWholeFrame(endpoint, frame);
}

int SendFrame(NetSocket& endpoint, const Frame& frame) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(frame, bytes);
    if (size == 0) {
        return 1;
    }
    return endpoint.Send(bytes, static_cast<int>(size), 0, nullptr);
}
