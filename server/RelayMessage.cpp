#include "server/RelayMessage.h"

#include <cstring>

std::size_t EncodeFrame(std::uint8_t id, PlayerId target, const void* value, std::uint8_t length,
                        std::uint8_t (&frame)[MAX_FRAME_SIZE]) {
    frame[0] = id;
    frame[1] = static_cast<std::uint8_t>(target & 0xFF);
    frame[2] = static_cast<std::uint8_t>(target >> 8);
    frame[3] = length;
    if (length > 0) {
        std::memcpy(frame + FRAME_HEADER_SIZE, value, length);
    }
    return FRAME_HEADER_SIZE + length;
}

FrameHeader DecodeHeader(const std::uint8_t (&header)[FRAME_HEADER_SIZE]) {
    return FrameHeader{header[0], static_cast<PlayerId>(header[1] | (header[2] << 8)), header[3]};
}
