// The hand-written frames of the test code against the protocol's encoder and decoder: each is
// the other's check, so a fault in either shows here before it hides one in the relay's tests.

#include "protocol/Frame.h"
#include "testing/TestFrames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TestFrames, AgreeWithTheProtocolAtTheEdgesOfLengthAndTarget) {
    const std::string longest(MAX_VALUE_LENGTH, '\xA5');
    for (const PlayerId target : {PlayerId{0}, PlayerId{1}, PlayerId{0x0201}, PlayerId{65535}}) {
        for (const std::string& value : {std::string(), std::string("a\0b", 3), longest}) {
            SCOPED_TRACE(testing::Message() << target << " " << value.size());
            const Frame frame{MSG_LEAVE, target, value};
            std::uint8_t encoded[MAX_FRAME_SIZE];
            const std::size_t size = EncodeFrame(frame, encoded);
            const Bytes byHand = EncodeTestFrame(frame.id, frame.target, frame.value);
            ASSERT_EQ(Bytes(encoded, encoded + size), byHand);

            Frame decoded;
            ASSERT_EQ(DecodeFrame(byHand.data(), byHand.size(), decoded), size);
            EXPECT_EQ(decoded, frame);
            Frame decodedByHand{1, 2, "untouched"};
            EXPECT_EQ(DecodeTestFrame(byHand.data(), size - 1, decodedByHand), 0u);
            EXPECT_EQ(decodedByHand, (Frame{1, 2, "untouched"}));
            ASSERT_EQ(DecodeTestFrame(encoded, size, decodedByHand), size);
            EXPECT_EQ(decodedByHand, frame);
        }
    }
}

TEST(TestFrames, TakeWholeFramesLeavesTheFrameThatHasOnlyPartlyArrived) {
    Bytes stream = EncodeTestFrame(3, 1, "");
    const Bytes second = EncodeTestFrame(4, 65535, "xy");
    stream.insert(stream.end(), second.begin(), second.end());
    stream.insert(stream.end(), {9, 2, 0, 5, 'a'});

    EXPECT_EQ(TakeWholeFrames(stream), (std::vector<Frame>{{3, 1, ""}, {4, 65535, "xy"}}));
    EXPECT_EQ(stream, (Bytes{9, 2, 0, 5, 'a'}));
    EXPECT_TRUE(TakeWholeFrames(stream).empty());
    EXPECT_EQ(stream.size(), 5u);
}

}  // namespace
