#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using PlayerId = std::uint16_t;

inline constexpr PlayerId BROADCAST_ID = 0;
inline constexpr PlayerId SERVER_ID = 1;
inline constexpr PlayerId FIRST_PLAYER_ID = 2;
inline constexpr PlayerId LAST_PLAYER_ID = 65535;

inline constexpr std::uint8_t MSG_WELCOME = 0;
inline constexpr std::uint8_t MSG_LEAVE = 255;

// On the wire: id (1 byte), target (2 bytes, little-endian), length (1 byte), then `length`
// value bytes. The length byte alone delimits one frame from the next.
inline constexpr std::size_t FRAME_HEADER_SIZE = 4;
inline constexpr std::size_t MAX_VALUE_LENGTH = 255;
inline constexpr std::size_t MAX_FRAME_SIZE = FRAME_HEADER_SIZE + MAX_VALUE_LENGTH;

// One relay frame, as a player sends it and as the server relays it. Its length on the wire is
// the size of the value.
struct Frame {
    std::uint8_t id = 0;
    PlayerId target = 0;
    // Opaque bytes, at most MAX_VALUE_LENGTH of them.
    std::string value;

    bool operator==(const Frame&) const = default;
};

// A whole frame in place among received bytes: its header fields and its bytes as they arrived,
// header and value. It points into those bytes and is valid as long as they are.
struct FrameView {
    std::uint8_t id = 0;
    PlayerId target = 0;
    std::uint8_t length = 0;
    const std::uint8_t* bytes = nullptr;

    std::size_t Size() const { return FRAME_HEADER_SIZE + length; }
    std::string_view Value() const {
        return {reinterpret_cast<const char*>(bytes) + FRAME_HEADER_SIZE, length};
    }
};

// Writes the frame into `bytes` and returns its size, the value's length + 4; 0 when the value
// is longer than MAX_VALUE_LENGTH.
std::size_t EncodeFrame(const Frame& frame, std::uint8_t (&bytes)[MAX_FRAME_SIZE]);

// Reads the frame at the front of `size` bytes into `frame` once all of it is there and returns
// its size; 0, leaving `frame` as it was, when the bytes hold only part of a frame.
std::size_t DecodeFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame);
// The same without copying the value: `frame` shows the frame where it lies in `bytes`.
std::size_t ViewFrame(const std::uint8_t* bytes, std::size_t size, FrameView& frame);

// One readable line without its newline: id, target, length and the value with control bytes
// escaped, as in "id 7 target 4 length 5: hello".
std::string DescribeFrame(const Frame& frame);
