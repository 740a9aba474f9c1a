#include "tools/common/PlayerFrame.h"

#include "server/ConsoleOutput.h"

#include <cstdio>

bool TakeFrame(NetSocket& endpoint, PlayerFrame& frame) {
    endpoint.Receive(false);
    std::uint8_t header[FRAME_HEADER_SIZE];
    if (endpoint.Peek(header, FRAME_HEADER_SIZE) != 0) {
        return false;
    }
    const FrameHeader decoded = DecodeHeader(header);
    if (endpoint.BufferedBytes() < FRAME_HEADER_SIZE + decoded.length) {
        return false;
    }
    endpoint.Read(header, FRAME_HEADER_SIZE);
    frame.id = decoded.id;
    frame.target = decoded.target;
    frame.value.resize(decoded.length);
    // A Read of 0 bytes would take everything buffered.
    if (decoded.length > 0) {
        endpoint.Read(frame.value.data(), decoded.length);
    }
    return true;
}

int SendFrame(NetSocket& endpoint, const PlayerFrame& frame) {
    if (frame.value.size() > MAX_VALUE_LENGTH) {
        return 1;
    }
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(frame.id, frame.target, frame.value.data(),
                                         static_cast<std::uint8_t>(frame.value.size()), bytes);
    return endpoint.Send(bytes, static_cast<int>(size), 0, nullptr);
}

std::string DescribeFrame(const PlayerFrame& frame) {
    char head[64];
    std::snprintf(head, sizeof head,
                  "id %u target %u length %zu: ", static_cast<unsigned>(frame.id),
                  static_cast<unsigned>(frame.target), frame.value.size());
    return head + DisplayableText(std::string_view(frame.value));
}
