#include "net/StreamFlow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Kept(const StreamFlow& flow) {
    const ByteBuffer& kept = flow.KeptOutput();
    return std::string(reinterpret_cast<const char*>(kept.Data()), kept.Size());
}

}  // namespace

TEST(StreamFlowTest, ReceiveRoomIsWhatTheLimitLeaves) {
    StreamFlow flow;
    EXPECT_EQ(flow.ReceiveRoom(1u << 30, 500), 500u) << "no limit leaves the asked-for room";
    EXPECT_FALSE(flow.InputFull(1u << 30));

    flow.SetReceiveLimit(100);
    EXPECT_EQ(flow.ReceiveRoom(30, 500), 70u);
    EXPECT_EQ(flow.ReceiveRoom(30, 50), 50u);
    EXPECT_FALSE(flow.InputFull(99));
    EXPECT_TRUE(flow.InputFull(100));
    EXPECT_EQ(flow.ReceiveRoom(150, 500), 0u) << "a buffer past the limit has no room";
}

TEST(StreamFlowTest, KeptOutputStaysInOrderUpToTheLimitAndPastItFallsBehind) {
    StreamFlow flow;
    ASSERT_TRUE(flow.KeepOutput("abc", 3));
    ASSERT_TRUE(flow.KeepOutput("def", 3));
    flow.Written(2);
    EXPECT_EQ(Kept(flow), "cdef");

    const std::vector<char> filler(KEPT_OUTPUT_LIMIT - 4, 'x');
    EXPECT_FALSE(flow.WouldPassLimit(filler.size()));
    ASSERT_TRUE(flow.KeepOutput(filler.data(), filler.size())) << "exactly the limit is kept";
    EXPECT_EQ(flow.KeptOutput().Size(), KEPT_OUTPUT_LIMIT);
    EXPECT_FALSE(flow.HasFailed());

    EXPECT_TRUE(flow.WouldPassLimit(1));
    EXPECT_FALSE(flow.KeepOutput("y", 1));
    EXPECT_TRUE(flow.FellBehind());
    EXPECT_TRUE(flow.HasFailed());
    EXPECT_TRUE(flow.KeptOutput().Empty()) << "a failed connection keeps nothing to write";
}

TEST(StreamFlowTest, ARestartForgetsTheOldConnectionButKeepsTheLimits) {
    StreamFlow flow;
    flow.SetReceiveLimit(10);
    flow.LimitEachWrite(4);
    ASSERT_TRUE(flow.KeepOutput("abc", 3));
    flow.Fail();
    EXPECT_TRUE(flow.HasFailed());
    EXPECT_FALSE(flow.FellBehind()) << "a failed send is not falling behind";
    EXPECT_TRUE(flow.KeptOutput().Empty());

    ASSERT_TRUE(flow.KeepOutput("abc", 3));
    flow.Restart();
    EXPECT_FALSE(flow.HasFailed());
    EXPECT_TRUE(flow.KeptOutput().Empty());
    EXPECT_EQ(flow.ReceiveRoom(0, 500), 10u);
    EXPECT_EQ(flow.NextWrite(100), 4u);
}
