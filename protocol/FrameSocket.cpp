#include "protocol/FrameSocket.h"

bool TakeWholeFrame(NetSocket& endpoint, Frame& frame) {
    std::uint8_t header[FRAME_HEADER_SIZE];
    if (endpoint.Peek(header, FRAME_HEADER_SIZE) != 0) {
        return false;
    }
    const std::uint8_t length = header[3];
    if (endpoint.BufferedBytes() < FRAME_HEADER_SIZE + length) {
        return false;
    }
    endpoint.Read(header, FRAME_HEADER_SIZE);
    frame.id = header[0];
    frame.target = static_cast<PlayerId>(header[1] | (header[2] << 8));
    frame.value.resize(length);
    // A Read of 0 bytes would take everything buffered.
    if (length > 0) {
        endpoint.Read(frame.value.data(), length);
    }
    return true;
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
