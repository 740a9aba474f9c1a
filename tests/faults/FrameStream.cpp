#include "tests/faults/FrameStream.h"

namespace {

constexpr std::size_t NUMBERED_LENGTH = 255;

std::uint8_t Filler(std::uint8_t sender, std::uint16_t sequence, std::size_t at) {
    return static_cast<std::uint8_t>(static_cast<std::size_t>(sender * 7 + sequence * 13) + at);
}

}  // namespace

std::vector<Frame> TakeWholeFrames(std::vector<std::uint8_t>& bytes) {
    std::vector<Frame> frames;
    std::size_t at = 0;
    while (bytes.size() - at >= 4 && bytes.size() - at >= 4u + bytes[at + 3]) {
        Frame frame;
        frame.id = bytes[at];
        frame.target = static_cast<std::uint16_t>(bytes[at + 1] | bytes[at + 2] << 8);
        frame.value.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 4 + bytes[at + 3]));
        frames.push_back(std::move(frame));
        at += 4u + bytes[at + 3];
    }
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return frames;
}

std::vector<std::uint8_t> NumberedFrame(std::uint8_t id, std::uint16_t target, std::uint8_t sender,
                                        std::uint16_t sequence) {
    std::vector<std::uint8_t> frame{id,
                                    static_cast<std::uint8_t>(target & 0xFF),
                                    static_cast<std::uint8_t>(target >> 8),
                                    static_cast<std::uint8_t>(NUMBERED_LENGTH),
                                    sender,
                                    static_cast<std::uint8_t>(sequence & 0xFF),
                                    static_cast<std::uint8_t>(sequence >> 8)};
    for (std::size_t at = 3; at < NUMBERED_LENGTH; ++at) {
        frame.push_back(Filler(sender, sequence, at));
    }
    return frame;
}

bool ReadNumbers(const Frame& frame, Numbered& numbers) {
    if (frame.value.size() != NUMBERED_LENGTH) {
        return false;
    }
    const auto* value = reinterpret_cast<const std::uint8_t*>(frame.value.data());
    numbers.sender = value[0];
    numbers.sequence = static_cast<std::uint16_t>(value[1] | value[2] << 8);
    for (std::size_t at = 3; at < NUMBERED_LENGTH; ++at) {
        if (value[at] != Filler(numbers.sender, numbers.sequence, at)) {
            return false;
        }
    }
    return true;
}
