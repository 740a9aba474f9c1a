#include "tools/common/PlayerFrame.h"

#include "server/ConsoleOutput.h"
#include "server/FrameReader.h"

#include <cstdio>

bool TakeFrame(NetSocket& endpoint, PlayerFrame& frame) {
    endpoint.Receive(false);
    FrameHeader header{};
    std::uint8_t value[MAX_VALUE_LENGTH];
    if (!TakeWholeFrame(endpoint, header, value)) {
        return false;
    }
    frame.id = header.id;
    frame.target = header.target;
    frame.value.assign(reinterpret_cast<const char*>(value), header.length);
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
