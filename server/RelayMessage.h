#pragma once

#include <cstddef>
#include <cstdint>

using PlayerId = std::uint16_t;

inline constexpr PlayerId BROADCAST_ID = 0;
inline constexpr PlayerId SERVER_ID = 1;
inline constexpr PlayerId FIRST_PLAYER_ID = 2;
inline constexpr PlayerId LAST_PLAYER_ID = 65535;

inline constexpr std::uint8_t MSG_WELCOME = 0;
inline constexpr std::uint8_t MSG_LEAVE = 255;

// On the wire: id (1 byte), target (2 bytes, little-endian), length (1 byte), then `length`
// value bytes. The length byte alone delimits one message from the next.
inline constexpr std::size_t FRAME_HEADER_SIZE = 4;
inline constexpr std::size_t MAX_VALUE_LENGTH = 255;
inline constexpr std::size_t MAX_FRAME_SIZE = FRAME_HEADER_SIZE + MAX_VALUE_LENGTH;

struct RelayMessage {
    std::uint8_t id = 0;
    PlayerId target = 0;
    std::uint8_t length = 0;
    // The value followed by a NUL, so that it can be shown as text.
    char value[MAX_VALUE_LENGTH + 1] = {};
};

// Writes the frame into `frame` and returns its size, length + 4.
std::size_t EncodeFrame(std::uint8_t id, PlayerId target, const void* value, std::uint8_t length,
                        std::uint8_t (&frame)[MAX_FRAME_SIZE]);

struct FrameHeader {
    std::uint8_t id;
    PlayerId target;
    std::uint8_t length;
};

FrameHeader DecodeHeader(const std::uint8_t (&header)[FRAME_HEADER_SIZE]);
