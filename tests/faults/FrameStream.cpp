#include "tests/faults/FrameStream.h"

#include <string>

namespace {

constexpr std::size_t NUMBERED_LENGTH = 255;

std::uint8_t Filler(std::uint8_t sender, std::uint16_t sequence, std::size_t at) {
    return static_cast<std::uint8_t>(static_cast<std::size_t>(sender * 7 + sequence * 13) + at);
}

}  // namespace

std::vector<std::uint8_t> NumberedFrame(std::uint8_t id, std::uint16_t target, std::uint8_t sender,
                                        std::uint16_t sequence) {
    std::string value{static_cast<char>(sender), static_cast<char>(sequence & 0xFF),
                      static_cast<char>(sequence >> 8)};
    for (std::size_t at = 3; at < NUMBERED_LENGTH; ++at) {
        value += static_cast<char>(Filler(sender, sequence, at));
    }
    return EncodeTestFrame(id, target, value);
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
