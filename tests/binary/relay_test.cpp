// Messages relayed by the real binary between real loopback clients. Where a test needs to
// know that something did not arrive, a later marker message must be the next thing to arrive.

#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Relay = RelayScene;

std::vector<std::uint8_t> Joined(const std::vector<std::vector<std::uint8_t>>& frames) {
    std::vector<std::uint8_t> bytes;
    for (const auto& frame : frames) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

TEST_F(Relay, BroadcastReachesEveryOtherPlayerAndIsShown) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(Player(3).SendFrame(7, 0, "hi"));

    const auto expected = Bytes({0x07, 0x00, 0x00, 0x02, 'h', 'i'});
    EXPECT_EQ(Player(2).ReadExactly(6, WAIT_MS), expected);
    EXPECT_EQ(Player(4).ReadExactly(6, WAIT_MS), expected);
    ExpectConsole(ShownMessage(7, 3, "hi", 2));

    // Had the sender got its own broadcast, it would come before this.
    ASSERT_TRUE(Player(2).SendFrame(8, 3, "ok"));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{8, 3, "ok"}));
}

TEST_F(Relay, MessageToTheServerReachesNobodyAndEndsThePass) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(Player(2).SendBytes(Joined(
        {EncodeTestFrame(7, 1, "hi"), EncodeTestFrame(7, 1, "h2"), EncodeTestFrame(7, 1, "h3")})));
    ASSERT_TRUE(server.WaitForOutput(ShownMessage(7, 2, "hi", 2), WAIT_MS));

    // Player 2 still has two messages buffered, and each of them ends its pass before player 3
    // is visited: player 3's message is relayed only after both are shown.
    ASSERT_TRUE(Player(3).SendFrame(8, 4, "d"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{8, 4, "d"}));
    EXPECT_TRUE(ConsoleAlreadyHas(ShownMessage(7, 2, "h3", 2)));

    ASSERT_TRUE(Player(4).SendFrame(9, 0, "m"));
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{9, 0, "m"}));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{9, 0, "m"}));
    ExpectConsole(ShownMessage(7, 2, "hi", 2) + ShownMessage(7, 2, "h2", 2) +
                  ShownMessage(7, 2, "h3", 2) + ShownMessage(9, 4, "m", 1));
}

TEST_F(Relay, DirectMessageReachesItsTargetSilentlyAndTheWalkGoesOn) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 4));
    // Player 5 broadcasts one buffered message per pass, each ending its pass.
    constexpr int BROADCASTS = 20;
    std::vector<std::vector<std::uint8_t>> backlog;
    for (int index = 0; index < BROADCASTS; ++index) {
        backlog.push_back(EncodeTestFrame(5, 0, "b" + std::to_string(10 + index)));
    }
    ASSERT_TRUE(Player(5).SendBytes(Joined(backlog)));
    ASSERT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{5, 0, "b10"}));

    ASSERT_TRUE(Player(3).SendBytes(
        Joined({Bytes({0x07, 0x04, 0x00, 0x02, 'h', 'i'}), EncodeTestFrame(7, 4, "h2")})));
    const Frame lastBroadcast{5, 0, "b" + std::to_string(10 + BROADCASTS - 1)};
    const std::vector<Frame> frames =
        ReadFramesUntilSeen(Player(4), {lastBroadcast, Frame{7, 4, "h2"}});
    const auto first = std::find(frames.begin(), frames.end(), Frame{7, 4, "hi"});
    ASSERT_NE(first, frames.end());
    ASSERT_EQ(std::count(frames.begin(), frames.end(), Frame{7, 4, "h2"}), 1);
    // Player 3 comes before player 5 in every pass, and is served one message per pass: while
    // player 5 has broadcasts left, one of them comes between player 3's two messages.
    if (first < std::find(frames.begin(), frames.end(), lastBroadcast)) {
        ASSERT_LT(first + 2, frames.end());
        EXPECT_EQ(first[1].id, 5) << "the walk stopped after a direct message";
        EXPECT_EQ(first[2], (Frame{7, 4, "h2"}));
    }

    // Nothing was shown for the direct messages: only player 5's broadcasts.
    std::string shown;
    for (int index = 0; index < BROADCASTS; ++index) {
        shown += ShownMessage(5, 5, "b" + std::to_string(10 + index), 3);
    }
    ExpectConsole(shown);
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{5, 0, "b10"}));
}

TEST_F(Relay, LeaveMessageRemovesThePlayerWhateverItsTarget) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(Player(3).SendFrame(255, 0, "bye"));
    ExpectConsole(LeftLine(3));
    EXPECT_TRUE(Player(3).ClosedByPeer(WAIT_MS));

    ASSERT_TRUE(Player(2).SendFrame(8, 0, "m"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{8, 0, "m"}));
    ExpectConsole(ShownMessage(8, 2, "m", 1));

    ASSERT_NO_FATAL_FAILURE(Join(3));
    ASSERT_TRUE(Player(3).SendFrame(255, 4, "to four"));
    ExpectConsole(LeftLine(3));
    EXPECT_TRUE(Player(3).ClosedByPeer(WAIT_MS));
    ASSERT_TRUE(Player(2).SendFrame(9, 4, "n"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{9, 4, "n"}));
    ASSERT_TRUE(Player(4).SendFrame(9, 2, "n"));
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{9, 2, "n"}));
}

TEST_F(Relay, BufferedBroadcastsAreServedOnePerPassInOrder) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(
        Player(2).SendBytes(Joined({EncodeTestFrame(1, 0, "one"), EncodeTestFrame(2, 0, "two"),
                                    EncodeTestFrame(3, 0, "three")})));
    ASSERT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{1, 0, "one"}));

    // Player 2 still has two broadcasts buffered; each ends its pass before player 3 is visited.
    ASSERT_TRUE(Player(3).SendFrame(4, 0, "four"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{2, 0, "two"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{3, 0, "three"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{4, 0, "four"}));

    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{4, 0, "four"}));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{1, 0, "one"}));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{2, 0, "two"}));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{3, 0, "three"}));
    ExpectConsole(ShownMessage(1, 2, "one", 3) + ShownMessage(2, 2, "two", 3) +
                  ShownMessage(3, 2, "three", 5) + ShownMessage(4, 3, "four", 4));
}

TEST_F(Relay, ValueWithNulIsRelayedWholeAndShownUpToTheNul) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    ASSERT_TRUE(Player(3).SendFrame(7, 0, std::string("a\0b", 3)));
    const auto expected = Bytes({0x07, 0x00, 0x00, 0x03, 'a', 0x00, 'b'});
    EXPECT_EQ(Player(2).ReadExactly(7, WAIT_MS), expected);
    EXPECT_EQ(Player(4).ReadExactly(7, WAIT_MS), expected);
    ExpectConsole(ShownMessage(7, 3, "a", 3));
}

TEST_F(Relay, ControlBytesAreShownEscapedAndRelayedUnchanged) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 2));
    const std::string value = "a\tb\x1b[2J\x7f";
    ASSERT_TRUE(Player(2).SendFrame(7, 0, value));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{7, 0, value}));
    ExpectConsole(ShownMessage(7, 2, "a\\x09b\\x1b[2J\\x7f", 8));
}

TEST_F(Relay, EmptyValueIsAFourByteFrameAndTheNextBytesAreTheNextMessage) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 3));
    // More than a value's worth of bytes behind the empty message: none of them belong to it.
    const std::string longValue(255, 'L');
    ASSERT_TRUE(Player(3).SendBytes(Joined({EncodeTestFrame(7, 0, ""), EncodeTestFrame(9, 0, "xy"),
                                            EncodeTestFrame(10, 0, longValue)})));
    for (const std::uint16_t receiver : {std::uint16_t{2}, std::uint16_t{4}}) {
        EXPECT_EQ(Player(receiver).ReadExactly(4, WAIT_MS), Bytes({0x07, 0x00, 0x00, 0x00}));
        EXPECT_EQ(Player(receiver).ReadFrame(WAIT_MS), (Frame{9, 0, "xy"}));
        EXPECT_EQ(Player(receiver).ReadFrame(WAIT_MS), (Frame{10, 0, longValue}));
    }
    ExpectConsole(ShownMessage(7, 3, "", 0) + ShownMessage(9, 3, "xy", 2) +
                  ShownMessage(10, 3, longValue, 255));
}

TEST_F(Relay, PlayerMayAddressItselfAndAnUnknownTargetIsDropped) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(true, 2));
    ASSERT_TRUE(Player(3).SendFrame(6, 3, "me"));
    EXPECT_EQ(Player(3).ReadExactly(6, WAIT_MS), Bytes({0x06, 0x03, 0x00, 0x02, 'm', 'e'}));

    // Target 513: its low byte alone would name the server, its high byte alone player 2.
    ASSERT_TRUE(Player(3).SendBytes(
        Joined({Bytes({0x07, 0x01, 0x02, 0x01, 'x'}), EncodeTestFrame(8, 2, "marker"),
                EncodeTestFrame(8, 3, "marker")})));
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{8, 2, "marker"}));
    EXPECT_EQ(Player(3).ReadFrame(WAIT_MS), (Frame{8, 3, "marker"}));
    ExpectConsole("");
}

TEST_F(Relay, DisplayOffRelaysButShowsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWithPlayers(false, 3));
    ASSERT_TRUE(Player(3).SendFrame(7, 0, "hi"));
    EXPECT_EQ(Player(2).ReadFrame(WAIT_MS), (Frame{7, 0, "hi"}));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{7, 0, "hi"}));
    ASSERT_TRUE(Player(3).SendBytes(
        Joined({EncodeTestFrame(8, 1, "server"), EncodeTestFrame(255, 1, "")})));
    ExpectConsole(LeftLine(3));
    ASSERT_TRUE(Player(2).SendFrame(9, 4, "after"));
    EXPECT_EQ(Player(4).ReadFrame(WAIT_MS), (Frame{9, 4, "after"}));
}

}  // namespace
