#include "tools/load/DeliveryCheck.h"
#include "tools/load/LatencySummary.h"

#include <gtest/gtest.h>

namespace {

// Players 2, 3 and 4; frames are sent at 1000 us and received 1000 us later unless a test says
// otherwise.
class DeliveryCheckTest : public ::testing::Test {
protected:
    LoadFrame Sent(PlayerId sender, PlayerId target) {
        const LoadFrame frame{sender, nextSequence[sender]++, target, 1000};
        check.RecordSent(frame);
        return frame;
    }

    void Receive(PlayerId receiver, const LoadFrame& frame) {
        check.RecordReceived(receiver, EncodeLoadFrame(frame), 2000);
    }

    DeliveryCheck check{{2, 3, 4}};
    std::uint32_t nextSequence[5] = {};
};

}  // namespace

TEST_F(DeliveryCheckTest, CountsWholeFramesAtTheRightPlayersAsDelivered) {
    const LoadFrame directed = Sent(2, 3);
    const LoadFrame broadcast = Sent(3, BROADCAST_ID);
    EXPECT_EQ(check.Counts().expected, 3u);
    EXPECT_FALSE(check.AllDelivered());

    Receive(3, directed);
    Receive(2, broadcast);
    Receive(4, broadcast);

    const DeliveryCounts& counts = check.Counts();
    EXPECT_EQ(counts.directedSent, 1u);
    EXPECT_EQ(counts.broadcastsSent, 1u);
    EXPECT_EQ(counts.delivered, 3u);
    EXPECT_EQ(counts.Missing(), 0u);
    EXPECT_EQ(counts.corrupted + counts.misrouted + counts.duplicated + counts.outOfOrder, 0u);
    EXPECT_TRUE(check.AllDelivered());
    EXPECT_EQ(check.Latencies(), (std::vector<std::int64_t>{1000, 1000, 1000}));
}

TEST_F(DeliveryCheckTest, ReportsFramesThatNeverArrive) {
    Sent(2, 3);
    const LoadFrame broadcast = Sent(2, BROADCAST_ID);
    Receive(3, broadcast);

    EXPECT_EQ(check.Counts().expected, 3u);
    EXPECT_EQ(check.Counts().delivered, 1u);
    EXPECT_EQ(check.Counts().Missing(), 2u);
    EXPECT_FALSE(check.AllDelivered());
}

TEST_F(DeliveryCheckTest, ReportsChangedBytesAsCorrupted) {
    const LoadFrame frame = Sent(2, 3);
    const Frame original = EncodeLoadFrame(frame);

    Frame flipped = original;
    flipped.value.back() = static_cast<char>(flipped.value.back() ^ 0x01);
    check.RecordReceived(3, flipped, 2000);

    Frame truncated = original;
    truncated.value.pop_back();
    check.RecordReceived(3, truncated, 2000);

    Frame otherId = original;
    otherId.id = static_cast<std::uint8_t>(otherId.id + 1);
    check.RecordReceived(3, otherId, 2000);

    Frame otherTarget = original;
    otherTarget.target = 4;
    check.RecordReceived(4, otherTarget, 2000);

    Frame otherTime = original;
    otherTime.value[8] = static_cast<char>(otherTime.value[8] ^ 0x10);
    check.RecordReceived(3, otherTime, 2000);

    Frame unknownSequence = EncodeLoadFrame(LoadFrame{2, 99, 3, 1000});
    check.RecordReceived(3, unknownSequence, 2000);

    Frame noStamp;
    noStamp.target = 3;
    noStamp.value = "hello";
    check.RecordReceived(3, noStamp, 2000);

    EXPECT_EQ(check.Counts().corrupted, 7u);
    EXPECT_EQ(check.Counts().delivered, 0u);
    EXPECT_EQ(check.Counts().Missing(), 1u);
}

TEST_F(DeliveryCheckTest, ReportsFramesAtPlayersTheyWereNotFor) {
    const LoadFrame directed = Sent(2, 3);
    const LoadFrame broadcast = Sent(2, BROADCAST_ID);
    Receive(4, directed);
    Receive(2, broadcast);
    Receive(7, broadcast);

    EXPECT_EQ(check.Counts().misrouted, 3u);
    EXPECT_EQ(check.Counts().delivered, 0u);
    EXPECT_EQ(check.Counts().Missing(), 3u);
}

TEST_F(DeliveryCheckTest, ReportsReorderedAndRepeatedFrames) {
    const LoadFrame first = Sent(2, 3);
    const LoadFrame second = Sent(2, BROADCAST_ID);
    const LoadFrame third = Sent(2, 3);

    Receive(3, first);
    Receive(3, third);
    Receive(3, second);
    Receive(4, second);
    Receive(3, third);

    const DeliveryCounts& counts = check.Counts();
    EXPECT_EQ(counts.delivered, 4u);
    EXPECT_EQ(counts.outOfOrder, 1u);
    EXPECT_EQ(counts.duplicated, 1u);
    EXPECT_TRUE(check.AllDelivered());
}

TEST_F(DeliveryCheckTest, KeepsTheOrderOfEachSenderApart) {
    const LoadFrame fromTwo = Sent(2, 4);
    const LoadFrame fromThreeFirst = Sent(3, 4);
    const LoadFrame fromThreeSecond = Sent(3, 4);
    Receive(4, fromThreeFirst);
    Receive(4, fromThreeSecond);
    Receive(4, fromTwo);

    EXPECT_EQ(check.Counts().outOfOrder, 0u);
    EXPECT_TRUE(check.AllDelivered());
}

TEST(LoadStamp, EncodesFramesThatFitAndCarryTheirStamp) {
    for (std::uint32_t sequence = 0; sequence < 600; ++sequence) {
        const LoadFrame sent{513, sequence, 0, 123456789012};
        const Frame frame = EncodeLoadFrame(sent);
        ASSERT_GE(frame.value.size(), STAMP_SIZE);
        ASSERT_LE(frame.value.size(), MAX_VALUE_LENGTH);
        ASSERT_NE(frame.id, MSG_LEAVE);
        ASSERT_NE(frame.id, MSG_WELCOME);
        LoadFrame read;
        ASSERT_TRUE(ReadStamp(frame.value, read));
        EXPECT_EQ(read.sender, 513);
        EXPECT_EQ(read.sequence, sequence);
        EXPECT_EQ(read.sentMicros, 123456789012);
    }
}

TEST(LatencySummary, TakesNearestRankPercentiles) {
    std::vector<std::int64_t> samples;
    for (std::int64_t value = 100; value >= 1; --value) {
        samples.push_back(value);
    }
    const LatencySummary summary = SummarizeLatencies(samples);
    EXPECT_EQ(summary.median, 50);
    EXPECT_EQ(summary.p99, 99);
    EXPECT_EQ(summary.max, 100);

    const LatencySummary single = SummarizeLatencies({7});
    EXPECT_EQ(single.median, 7);
    EXPECT_EQ(single.p99, 7);
    EXPECT_EQ(SummarizeLatencies({}).max, 0);
}
