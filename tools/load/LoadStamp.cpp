#include "tools/load/LoadStamp.h"

namespace {

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int index = 0; index < bytes; ++index) {
        out += static_cast<char>((value >> (8 * index)) & 0xFF);
    }
}

std::uint64_t GetLittleEndian(std::string_view in, std::size_t offset, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < bytes; ++index) {
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[offset + index]))
                 << (8 * index);
    }
    return value;
}

// FNV-1a: any one changed byte of the stamp changes the hash, and so the filler after it.
std::uint32_t StampHash(std::string_view stamp) {
    std::uint32_t hash = 2166136261u;
    for (const char byte : stamp) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 16777619u;
    }
    return hash;
}

}  // namespace

Frame EncodeLoadFrame(const LoadFrame& frame) {
    Frame wire;
    wire.id = static_cast<std::uint8_t>(1 + frame.sequence % 254);
    wire.target = frame.target;
    wire.value.reserve(MAX_VALUE_LENGTH);
    wire.value += frame.fromChaos ? "VC" : (frame.fullValue ? "VF" : "VL");
    PutLittleEndian(wire.value, frame.sender, 2);
    PutLittleEndian(wire.value, frame.sequence, 4);
    PutLittleEndian(wire.value, static_cast<std::uint64_t>(frame.sentMicros), 8);
    const std::size_t filler = frame.fullValue
                                   ? MAX_VALUE_LENGTH - STAMP_SIZE
                                   : (frame.sequence * 37u) % (MAX_VALUE_LENGTH - STAMP_SIZE + 1);
    const std::uint32_t hash = StampHash(wire.value);
    for (std::size_t index = 0; index < filler; ++index) {
        wire.value += static_cast<char>(((hash >> (8 * (index % 4))) + index * 13u) & 0xFF);
    }
    return wire;
}

bool ReadStamp(std::string_view value, LoadFrame& frame) {
    if (value.size() < STAMP_SIZE || value[0] != 'V' ||
        (value[1] != 'L' && value[1] != 'C' && value[1] != 'F')) {
        return false;
    }
    frame.fromChaos = value[1] == 'C';
    frame.fullValue = value[1] == 'F';
    frame.sender = static_cast<PlayerId>(GetLittleEndian(value, 2, 2));
    frame.sequence = static_cast<std::uint32_t>(GetLittleEndian(value, 4, 4));
    frame.sentMicros = static_cast<std::int64_t>(GetLittleEndian(value, 8, 8));
    return true;
}

bool IsIntactLoadFrame(const Frame& frame, LoadFrame& stamp) {
    if (!ReadStamp(frame.value, stamp)) {
        return false;
    }
    stamp.target = frame.target;
    const Frame rebuilt = EncodeLoadFrame(stamp);
    return frame.id == rebuilt.id && frame.value == rebuilt.value;
}
