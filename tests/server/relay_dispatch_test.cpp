// The dispatch phase: what each kind of message does, and how much of it one pass handles.

#include "server/Players.h"
#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::string Shown(int id, int from, const std::string& value, int length) {
    return "Received a message.\nID \t= " + std::to_string(id) +
           "\nFrom \t= " + std::to_string(from) + "\nValue \t= " + value + " (" +
           std::to_string(length) + ")\n";
}

// Players 2 to 4, with the messages the server gets shown on its console.
class RelayDispatch : public JoinedPlayers<4> {
protected:
    RelayDispatch() : JoinedPlayers(true) {}
};

TEST_F(RelayDispatch, BroadcastIsRelayedAndShownAndEndsThePass) {
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, "hi"));
    ASSERT_TRUE(relay.Deliver(Player(4), 4, 8, 2, "later"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Received a message.\nID \t= 7\nFrom \t= 3\nValue \t= hi (2)\n");
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, "hi"}));
    EXPECT_EQ(Player(4).ReadFrame(), (Frame{7, 0, "hi"}));
    // Player 4 comes after the sender, so its message waits for the next pass.
    EXPECT_EQ(relay.Endpoint(4)->BufferedBytes(), 9u);
    relay.RunPass();
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{8, 2, "later"}));
    ExpectNothingBeforeMarker(2, 3);
}

TEST_F(RelayDispatch, MessageToTheServerIsShownOnlyAndEndsThePass) {
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, SERVER_ID, "hi"));
    ASSERT_TRUE(relay.Deliver(Player(4), 4, 8, 2, "later"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(7, 3, "hi", 2));
    EXPECT_EQ(relay.Endpoint(4)->BufferedBytes(), 9u);
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "");
    // Player 2's next frame is player 4's: the message to the server reached nobody.
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{8, 2, "later"}));
    ExpectNothingBeforeMarker(2, 3);
    ExpectNothingBeforeMarker(2, 4);
}

TEST_F(RelayDispatch, MessageToOnePlayerIsRelayedSilentlyAndTheWalkGoesOn) {
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, 4, "hi"));
    ASSERT_TRUE(relay.Deliver(Player(4), 4, 9, 2, "y"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "");
    EXPECT_EQ(relay.Endpoint(4)->BufferedBytes(), 0u);
    EXPECT_EQ(Player(4).ReadFrame(), (Frame{7, 4, "hi"}));
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{9, 2, "y"}));
    ExpectNothingBeforeMarker(2, 3);
}

TEST_F(RelayDispatch, LeaveMessageRemovesTheSenderWhateverItsTarget) {
    ASSERT_TRUE(relay.Deliver(Player(3), 3, MSG_LEAVE, BROADCAST_ID, "bye"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 3 left.\n");
    EXPECT_EQ(relay.Endpoint(3), nullptr);
    EXPECT_EQ(LowestFreePlayerId(relay.state.registry), PlayerId{3});
    EXPECT_TRUE(Player(3).ClosedByPeer());
    ExpectNothingBeforeMarker(4, 2);
    ExpectNothingBeforeMarker(2, 4);
    EXPECT_EQ(relay.NewConsole(), "");

    ASSERT_TRUE(relay.Deliver(Player(4), 4, MSG_LEAVE, 2, ""));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "Player 4 left.\n");
    EXPECT_EQ(relay.state.registry.size(), 1u);
}

TEST_F(RelayDispatch, BufferedMessagesAreServedOnePerPass) {
    for (const char* value : {"b1", "b2", "b3"}) {
        ASSERT_TRUE(relay.Deliver(Player(2), 2, 7, BROADCAST_ID, value));
    }
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 8, SERVER_ID, "m"));
    for (const char* value : {"b1", "b2", "b3"}) {
        relay.RunPass();
        EXPECT_EQ(relay.NewConsole(), Shown(7, 2, value, 2));
        EXPECT_EQ(Player(3).ReadFrame(), (Frame{7, 0, value}));
        EXPECT_EQ(Player(4).ReadFrame(), (Frame{7, 0, value}));
    }
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(8, 3, "m", 1));
    EXPECT_EQ(relay.Endpoint(2)->BufferedBytes(), 0u);
    EXPECT_EQ(relay.Endpoint(3)->BufferedBytes(), 0u);
}

TEST_F(RelayDispatch, ValueIsRelayedWholeButShownUpToItsFirstNul) {
    const std::string value = "a\0b"s;
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, value));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(7, 3, "a", 3));
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, value}));
    EXPECT_EQ(Player(4).ReadFrame(), (Frame{7, 0, value}));
}

TEST_F(RelayDispatch, ControlAndNonUtf8BytesAreShownEscapedButRelayedRaw) {
    // Ends with a lone continuation byte, UTF-8 "é", and a sequence cut short.
    const std::string value = "x\x1b[2J\ty\x7f\x80\xc3\xa9\xe2\x82";
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, value));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(7, 3, "x\\x1b[2J\\x09y\\x7f\\x80\xc3\xa9\\xe2\\x82", 13));
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, value}));
}

TEST_F(RelayDispatch, LongestValueIsRelayedAndShownWhole) {
    std::string value;
    for (int i = 0; i < 255; ++i) {
        value += static_cast<char>('a' + i % 26);
    }
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, value));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(7, 3, value, 255));
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, value}));
}

TEST_F(RelayDispatch, NothingIsShownWithDisplayOff) {
    relay.state.options.displayMessages = false;
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, BROADCAST_ID, "hi"));
    relay.RunPass();
    ASSERT_TRUE(relay.Deliver(Player(3), 3, 7, SERVER_ID, "hi"));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), "");
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, "hi"}));
    ExpectNothingBeforeMarker(4, 2);
}

TEST_F(RelayDispatch, FrameArrivingByteByByteIsHandledOnceWhole) {
    const std::vector<std::uint8_t> frame = EncodeTestFrame(7, BROADCAST_ID, "hello");
    for (std::size_t sent = 0; sent + 1 < frame.size(); ++sent) {
        ASSERT_TRUE(Player(3).SendBytes(&frame[sent], 1));
        ASSERT_TRUE(relay.WaitForBuffered(3, sent + 1));
        relay.RunPass();
        ASSERT_EQ(relay.Endpoint(3)->BufferedBytes(), sent + 1) << "after byte " << sent + 1;
        ASSERT_EQ(relay.NewConsole(), "") << "after byte " << sent + 1;
    }
    ASSERT_TRUE(Player(3).SendBytes(&frame.back(), 1));
    ASSERT_TRUE(relay.WaitForBuffered(3, frame.size()));
    relay.RunPass();
    EXPECT_EQ(relay.NewConsole(), Shown(7, 3, "hello", 5));
    EXPECT_EQ(relay.Endpoint(3)->BufferedBytes(), 0u);
    EXPECT_EQ(Player(2).ReadFrame(), (Frame{7, 0, "hello"}));
    ExpectNothingBeforeMarker(4, 2);
}

TEST_F(RelayDispatch, TwoFramesSplitAtEveryOffsetGiveExactlyTwoMessages) {
    std::vector<std::uint8_t> stream = EncodeTestFrame(1, 2, "ab");
    const std::size_t firstSize = stream.size();
    const std::vector<std::uint8_t> second = EncodeTestFrame(2, 2, "xyz");
    stream.insert(stream.end(), second.begin(), second.end());

    for (std::size_t split = 1; split < stream.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        ASSERT_TRUE(Player(3).SendBytes(stream.data(), split));
        ASSERT_TRUE(relay.WaitForBuffered(3, split));
        relay.RunPass();
        const std::size_t handled = split >= firstSize ? 1 : 0;
        EXPECT_EQ(relay.Endpoint(3)->BufferedBytes(), split - handled * firstSize);

        ASSERT_TRUE(Player(3).SendBytes(stream.data() + split, stream.size() - split));
        ASSERT_TRUE(relay.WaitForBuffered(3, stream.size() - handled * firstSize));
        relay.RunPass();
        if (handled == 0) {
            relay.RunPass();
        }
        EXPECT_EQ(relay.Endpoint(3)->BufferedBytes(), 0u);
        EXPECT_EQ(Player(2).ReadFrame(), (Frame{1, 2, "ab"}));
        EXPECT_EQ(Player(2).ReadFrame(), (Frame{2, 2, "xyz"}));
    }
    ExpectNothingBeforeMarker(4, 2);
}

}  // namespace
