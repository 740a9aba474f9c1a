#include "protocol/Frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes `frame`, checks the header bytes, and decodes it again from exactly those bytes.
void ExpectRoundTrip(const Frame& frame) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(frame, bytes);
    ASSERT_EQ(size, FRAME_HEADER_SIZE + frame.value.size());
    EXPECT_EQ(bytes[0], frame.id);
    EXPECT_EQ(bytes[1], frame.target & 0xFF);
    EXPECT_EQ(bytes[2], frame.target >> 8);
    EXPECT_EQ(bytes[3], frame.value.size());

    // Every shorter prefix is only part of the frame and leaves the output alone.
    Frame decoded{1, 2, "untouched"};
    for (std::size_t cut = 0; cut < size; ++cut) {
        ASSERT_EQ(DecodeFrame(bytes, cut, decoded), 0u) << "after " << cut << " bytes";
        ASSERT_EQ(decoded, (Frame{1, 2, "untouched"}));
    }
    ASSERT_EQ(DecodeFrame(bytes, size, decoded), size);
    EXPECT_EQ(decoded, frame);
}

TEST(ProtocolFrame, RoundTripsAtTheEdgesOfLengthAndTarget) {
    std::string longest(MAX_VALUE_LENGTH, '\0');
    for (std::size_t i = 0; i < longest.size(); ++i) {
        longest[i] = static_cast<char>(255 - i);
    }
    for (const PlayerId target : {PlayerId{0}, PlayerId{1}, PlayerId{65535}}) {
        SCOPED_TRACE(target);
        ExpectRoundTrip(Frame{0, target, ""});
        ExpectRoundTrip(Frame{255, target, longest});
        ExpectRoundTrip(Frame{7, target, std::string("a\0b", 3)});
    }
}

TEST(ProtocolFrame, DecodeTakesOnlyTheFrontFrame) {
    std::uint8_t first[MAX_FRAME_SIZE];
    std::uint8_t second[MAX_FRAME_SIZE];
    const std::size_t firstSize = EncodeFrame(Frame{3, 1, ""}, first);
    const std::size_t secondSize = EncodeFrame(Frame{4, 65535, "xy"}, second);
    std::vector<std::uint8_t> stream(first, first + firstSize);
    stream.insert(stream.end(), second, second + secondSize);

    Frame decoded;
    ASSERT_EQ(DecodeFrame(stream.data(), stream.size(), decoded), 4u);
    EXPECT_EQ(decoded, (Frame{3, 1, ""}));
    ASSERT_EQ(DecodeFrame(stream.data() + 4, stream.size() - 4, decoded), 6u);
    EXPECT_EQ(decoded, (Frame{4, 65535, "xy"}));
}

TEST(ProtocolFrame, ValueLongerThanTheLengthByteIsNotEncoded) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    EXPECT_EQ(EncodeFrame(Frame{1, 2, std::string(MAX_VALUE_LENGTH + 1, 'v')}, bytes), 0u);
}

TEST(ProtocolFrame, EncodeFrameWritesTheTargetLowByteFirst) {
    std::uint8_t frame[MAX_FRAME_SIZE];
    ASSERT_EQ(EncodeFrame(Frame{7, 513, "abc"}, frame), 7u);
    EXPECT_EQ(Bytes(frame, frame + 7), (Bytes{0x07, 0x01, 0x02, 0x03, 'a', 'b', 'c'}));

    ASSERT_EQ(EncodeFrame(Frame{MSG_LEAVE, 0xFFFE, ""}, frame), 4u);
    EXPECT_EQ(Bytes(frame, frame + 4), (Bytes{0xFF, 0xFE, 0xFF, 0x00}));

    Bytes header{0x09, 0x01, 0x02, 0xFF};
    header.resize(FRAME_HEADER_SIZE + 255);
    Frame decoded;
    ASSERT_EQ(DecodeFrame(header.data(), header.size(), decoded), header.size());
    EXPECT_EQ(decoded.id, 9);
    EXPECT_EQ(decoded.target, 513);
    EXPECT_EQ(decoded.value.size(), 255u);
}

}  // namespace
