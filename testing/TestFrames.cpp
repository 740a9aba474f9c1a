#include "testing/TestFrames.h"

#include <algorithm>

// Written out here rather than taken from the protocol, so that the two share nothing.
constexpr std::size_t HEADER = 4;

std::vector<std::uint8_t> EncodeTestFrame(std::uint8_t id, std::uint16_t target,
                                          std::string_view value) {
    std::vector<std::uint8_t> frame(HEADER + value.size());
    frame[0] = id;
    frame[1] = static_cast<std::uint8_t>(target & 0xFF);
    frame[2] = static_cast<std::uint8_t>(target >> 8);
    frame[3] = static_cast<std::uint8_t>(value.size());
    std::copy(value.begin(), value.end(), frame.begin() + HEADER);
    return frame;
}

std::size_t DecodeTestFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame) {
    if (size < HEADER || size < HEADER + bytes[3]) {
        return 0;
    }
    frame.id = bytes[0];
    frame.target = static_cast<std::uint16_t>(bytes[1] | bytes[2] << 8);
    frame.value.assign(reinterpret_cast<const char*>(bytes + HEADER), bytes[3]);
    return HEADER + bytes[3];
}

std::vector<Frame> TakeWholeFrames(std::vector<std::uint8_t>& bytes) {
    std::vector<Frame> frames;
    std::size_t at = 0;
    Frame frame;
    while (const std::size_t size = DecodeTestFrame(bytes.data() + at, bytes.size() - at, frame)) {
        frames.push_back(frame);
        at += size;
    }
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return frames;
}
