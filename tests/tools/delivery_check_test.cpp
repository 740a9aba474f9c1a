#include "tools/load/DeliveryCheck.h"
#include "tools/load/LatencySummary.h"
#include "tools/load/LoadOptions.h"

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

TEST_F(DeliveryCheckTest, ChecksFramesOfMisbehavingPlayersForFramingOnly) {
    // Player 9 misbehaves: its frames are not deliveries, but must arrive intact and addressed
    // to their reader or to everybody.
    const LoadFrame toTwo{9, 0, 2, 1000, true};
    const LoadFrame toAll{9, 1, BROADCAST_ID, 1000, true};
    check.RecordReceived(2, EncodeLoadFrame(toTwo), 2000);
    check.RecordReceived(3, EncodeLoadFrame(toAll), 2000);
    check.RecordReceived(3, EncodeLoadFrame(toAll), 2000);
    EXPECT_EQ(check.Counts().fromChaos, 3u);
    EXPECT_EQ(check.Counts().expected, 0u);

    check.RecordReceived(3, EncodeLoadFrame(toTwo), 2000);
    EXPECT_EQ(check.Counts().misrouted, 1u);
    Frame cut = EncodeLoadFrame(toAll);
    cut.value.pop_back();
    check.RecordReceived(4, cut, 2000);
    EXPECT_EQ(check.Counts().corrupted, 1u);
    EXPECT_EQ(check.Counts().fromChaos, 3u);
}

TEST_F(DeliveryCheckTest, ChecksWhatMisbehavingPlayersRead) {
    const LoadFrame directed = Sent(2, 3);
    const LoadFrame broadcast = Sent(2, BROADCAST_ID);
    // Player 9 misbehaves and reads the broadcast and a frame for itself, which are fine.
    check.RecordReadByChaos(9, EncodeLoadFrame(broadcast));
    check.RecordReadByChaos(9, EncodeLoadFrame(LoadFrame{3, 0, 9, 1000, true}));
    EXPECT_EQ(check.Counts().readByChaos, 2u);

    // A frame for player 3 at player 9, and a changed byte of a stamp, are faults of the relay.
    check.RecordReadByChaos(9, EncodeLoadFrame(directed));
    Frame changed = EncodeLoadFrame(broadcast);
    changed.value[STAMP_SIZE - 1] = static_cast<char>(changed.value[STAMP_SIZE - 1] ^ 0x04);
    check.RecordReadByChaos(9, changed);
    EXPECT_EQ(check.Counts().misrouted, 1u);
    EXPECT_EQ(check.Counts().corrupted, 1u);
    EXPECT_EQ(check.Counts().readByChaos, 2u);
    // None of it is a delivery to a well-behaved player.
    EXPECT_EQ(check.Counts().delivered, 0u);
}

TEST_F(DeliveryCheckTest, CountsEachSendersFramesRelayedOnce) {
    const LoadFrame first = Sent(2, BROADCAST_ID);
    Sent(2, BROADCAST_ID);
    const LoadFrame directed = Sent(3, 4);
    Receive(3, first);
    Receive(4, first);
    Receive(4, directed);

    const auto& senders = check.Senders();
    ASSERT_EQ(senders.size(), 2u);
    EXPECT_EQ(senders.at(2).sent, 2u);
    // A broadcast that reached two players is one frame relayed.
    EXPECT_EQ(senders.at(2).relayed, 1u);
    EXPECT_EQ(senders.at(3).sent, 1u);
    EXPECT_EQ(senders.at(3).relayed, 1u);
}

TEST(LoadStamp, TellsTheFramesOfMisbehavingPlayersApart) {
    LoadFrame read;
    ASSERT_TRUE(ReadStamp(EncodeLoadFrame(LoadFrame{5, 3, 2, 10, true}).value, read));
    EXPECT_TRUE(read.fromChaos);
    ASSERT_TRUE(ReadStamp(EncodeLoadFrame(LoadFrame{5, 3, 2, 10, false}).value, read));
    EXPECT_FALSE(read.fromChaos);

    LoadFrame stamp;
    Frame frame = EncodeLoadFrame(LoadFrame{5, 3, 2, 10, true});
    EXPECT_TRUE(IsIntactLoadFrame(frame, stamp));
    EXPECT_EQ(stamp.sender, 5);
    frame.id = static_cast<std::uint8_t>(frame.id + 1);
    EXPECT_FALSE(IsIntactLoadFrame(frame, stamp));
}

TEST(LoadOptions, KeepsTwoWellBehavedPlayersAndOneServerToWatch) {
    const auto parse = [](std::vector<const char*> words, LoadOptions& options) {
        words.insert(words.begin(), "vor-load");
        std::string error;
        return ParseLoadOptions(static_cast<int>(words.size()), words.data(), options, error) ==
               LoadRequest::Run;
    };
    LoadOptions chaos;
    ASSERT_TRUE(parse({"4711", "--players", "60", "--chaos", "0.3", "--seed", "42"}, chaos));
    EXPECT_EQ(chaos.ChaosPlayers(), 18u);
    EXPECT_EQ(chaos.SteadyPlayers(), 42u);
    EXPECT_TRUE(chaos.seedGiven);
    EXPECT_EQ(chaos.seed, 42u);
    EXPECT_EQ(ServerMemoryBoundKib(chaos), 32 * 1024 + 60 * (64 + 1024));

    LoadOptions rejected;
    EXPECT_FALSE(parse({"4711", "--players", "4", "--chaos", "0.7"}, rejected));
    EXPECT_FALSE(parse({"4711", "--chaos", "0.95"}, rejected));
    EXPECT_FALSE(parse({"4711", "--players", "4", "--broadcasters", "5"}, rejected));
    EXPECT_FALSE(parse({"4711", "--server-pid", "1", "--spawn", "/bin/true"}, rejected));
    EXPECT_FALSE(parse({"0"}, rejected));
    LoadOptions spawned;
    EXPECT_TRUE(parse({"0", "--spawn", "/bin/true"}, spawned));
}

TEST(LoadStamp, FullValuesTakeAll255BytesAndAreCheckedWhole) {
    DeliveryCheck check({2, 3});
    for (std::uint32_t sequence = 0; sequence < 300; ++sequence) {
        const LoadFrame sent{2, sequence, BROADCAST_ID, 10, false, true};
        const Frame frame = EncodeLoadFrame(sent);
        ASSERT_EQ(frame.value.size(), MAX_VALUE_LENGTH);
        LoadFrame stamp;
        ASSERT_TRUE(IsIntactLoadFrame(frame, stamp));
        EXPECT_TRUE(stamp.fullValue);
        EXPECT_FALSE(stamp.fromChaos);
        check.RecordSent(sent);
        check.RecordReceived(3, frame, 20);
    }
    EXPECT_EQ(check.Counts().delivered, 300u);

    // A full value that lost its last byte is no longer the frame that was sent.
    const LoadFrame sent{2, 300, BROADCAST_ID, 10, false, true};
    Frame cut = EncodeLoadFrame(sent);
    cut.value.pop_back();
    LoadFrame stamp;
    EXPECT_FALSE(IsIntactLoadFrame(cut, stamp));
    check.RecordSent(sent);
    check.RecordReceived(3, cut, 20);
    EXPECT_EQ(check.Counts().corrupted, 1u);
    EXPECT_EQ(check.Counts().delivered, 300u);
}

TEST(LoadOptions, TakesFasterRatesTheBrokerModeAndArgumentsForTheSpawnedServer) {
    const auto parse = [](std::vector<const char*> words, LoadOptions& options,
                          std::string& error) {
        words.insert(words.begin(), "vor-load");
        return ParseLoadOptions(static_cast<int>(words.size()), words.data(), options, error) ==
               LoadRequest::Run;
    };
    std::string error;
    LoadOptions all;
    ASSERT_TRUE(parse(
        {"4711", "--players", "100", "--rate", "0", "--broadcasts", "0", "--broadcasters", "100",
         "--broadcaster-rate", "10", "--full-values", "--no-greeting", "--server-pid", "99"},
        all, error))
        << error;
    EXPECT_TRUE(all.fullValues);
    EXPECT_TRUE(all.noGreeting);
    EXPECT_DOUBLE_EQ(ExpectedDeliveries(all), 100 * 10.0 * 30 * 99);

    LoadOptions spawned;
    ASSERT_TRUE(parse(
        {"0", "--spawn", "/bin/true", "--server-args", " --pass-interval 0  --messages-per-pass 64",
         "--rate", "50", "--", "--fair", "--rate"},
        spawned, error))
        << error;
    EXPECT_EQ(spawned.serverArguments,
              (std::vector<std::string>{"--pass-interval", "0", "--messages-per-pass", "64",
                                        "--fair", "--rate"}));
    EXPECT_DOUBLE_EQ(spawned.rate, 50.0);

    const auto rejects = [&](std::vector<const char*> words, const char* reason) {
        LoadOptions options;
        std::string why;
        EXPECT_FALSE(parse(words, options, why)) << words.back();
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    };
    rejects({"4711", "--broadcaster-rate", "0"}, "out of range");
    rejects({"4711", "--broadcaster-rate", "1001"}, "out of range");
    rejects({"4711", "--rate", "fast"}, "out of range");
    rejects({"0", "--spawn", "/bin/true", "--server-args", "  "}, "out of range");
    rejects({"4711", "--server-args", "--fair"}, "only for a server that --spawn starts");
    rejects({"4711", "--", "--fair"}, "only for a server that --spawn starts");
    // The broker relays every byte to everybody: no directed frames, no misbehaving players.
    rejects({"4711", "--no-greeting"}, "--rate 0");
    rejects({"4711", "--no-greeting", "--rate", "0", "--chaos", "0.2"}, "--rate 0");
    rejects({"4711", "--players", "100", "--rate", "0", "--broadcasters", "100",
             "--broadcaster-rate", "40"},
            "10 million");
}
