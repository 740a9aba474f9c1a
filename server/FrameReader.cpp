#include "server/FrameReader.h"

#include <cstring>

bool TakeWholeFrame(NetSocket& endpoint, FrameHeader& header, std::uint8_t* value) {
    // One look at the front of the buffer: the header and as much of the value as is there.
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::uint32_t buffered = endpoint.PeekUpTo(bytes, MAX_FRAME_SIZE);
    if (buffered < FRAME_HEADER_SIZE) {
        return false;
    }
    std::uint8_t headerBytes[FRAME_HEADER_SIZE];
    std::memcpy(headerBytes, bytes, FRAME_HEADER_SIZE);
    const FrameHeader decoded = DecodeHeader(headerBytes);
    if (buffered < FRAME_HEADER_SIZE + decoded.length) {
        return false;
    }
    std::memcpy(value, bytes + FRAME_HEADER_SIZE, decoded.length);
    endpoint.Discard(static_cast<std::uint32_t>(FRAME_HEADER_SIZE + decoded.length));
    header = decoded;
    return true;
}

bool WholeFrameBuffered(NetSocket& endpoint) {
    std::uint8_t bytes[FRAME_HEADER_SIZE];
    return endpoint.Peek(bytes, FRAME_HEADER_SIZE) == 0 &&
           endpoint.BufferedBytes() >= FRAME_HEADER_SIZE + bytes[3];
}
