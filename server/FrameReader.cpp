#include "server/FrameReader.h"

bool TakeWholeFrame(NetSocket& endpoint, FrameHeader& header, std::uint8_t* value) {
    std::uint8_t bytes[FRAME_HEADER_SIZE];
    if (endpoint.Peek(bytes, FRAME_HEADER_SIZE) != 0) {
        return false;
    }
    const FrameHeader decoded = DecodeHeader(bytes);
    if (endpoint.BufferedBytes() < FRAME_HEADER_SIZE + decoded.length) {
        return false;
    }
    endpoint.Read(bytes, FRAME_HEADER_SIZE);
    // A Read of 0 bytes would take everything buffered.
    if (decoded.length > 0) {
        endpoint.Read(value, decoded.length);
    }
    header = decoded;
    return true;
}
