#include "protocol/Frame.h"

#include "protocol/DisplayableText.h"

#include <cstdio>
#include <cstring>

std::size_t EncodeFrame(const Frame& frame, std::uint8_t (&bytes)[MAX_FRAME_SIZE]) {
    const std::size_t length = frame.value.size();
    if (length > MAX_VALUE_LENGTH) {
        return 0;
    }
    bytes[0] = frame.id;
    bytes[1] = static_cast<std::uint8_t>(frame.target & 0xFF);
    bytes[2] = static_cast<std::uint8_t>(frame.target >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    if (length > 0) {
        std::memcpy(bytes + FRAME_HEADER_SIZE, frame.value.data(), length);
    }
    return FRAME_HEADER_SIZE + length;
}

std::size_t DecodeFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame) {
    FrameView view;
    const std::size_t frameSize = ViewFrame(bytes, size, view);
    if (frameSize > 0) {
        frame.id = view.id;
        frame.target = view.target;
        frame.value.assign(view.Value());
    }
    return frameSize;
}

std::size_t ViewFrame(const std::uint8_t* bytes, std::size_t size, FrameView& frame) {
    if (size < FRAME_HEADER_SIZE || size < FRAME_HEADER_SIZE + bytes[3]) {
        return 0;
    }
    frame.id = bytes[0];
    frame.target = static_cast<PlayerId>(bytes[1] | (bytes[2] << 8));
    frame.length = bytes[3];
    frame.bytes = bytes;
    return frame.Size();
}

std::string DescribeFrame(const Frame& frame) {
    char head[64];
    std::snprintf(head, sizeof head,
                  "id %u target %u length %zu: ", static_cast<unsigned>(frame.id),
                  static_cast<unsigned>(frame.target), frame.value.size());
    return head + DisplayableText(std::string_view(frame.value));
}
