#include "protocol/FrameSocket.h"

#include "sync/Clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A connected pair on loopback: `client` writes, `accepted` reads.
struct LoopbackPair {
    LoopbackPair() {
        listener.Open(NS_TCP | NS_SERVER, 0, nullptr);
        client.Open(NS_TCP, listener.LocalPort(), "127.0.0.1");
        for (int attempt = 0; attempt < 500 && !accepted; ++attempt) {
            accepted.reset(listener.Accept());
            if (!accepted) {
                SleepMilliseconds(10);
            }
        }
    }

    void Write(const std::string& bytes) {
        ASSERT_EQ(client.Send(bytes.data(), static_cast<int>(bytes.size()), 0, nullptr), 0);
    }

    // Waits until `count` bytes are buffered at the reading end.
    bool AwaitBuffered(std::uint32_t count) {
        for (int attempt = 0; attempt < 500; ++attempt) {
            accepted->Receive(false);
            if (accepted->BufferedBytes() >= count) {
                return true;
            }
            SleepMilliseconds(10);
        }
        return false;
    }

    NetSocket listener;
    NetSocket client;
    std::unique_ptr<NetSocket> accepted;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values) {
        bytes += static_cast<char>(value);
    }
    return bytes;
}

}  // namespace

TEST(TakeFrame, WaitsForTheWholeFrameAndLeavesTheNextBuffered) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.accepted);
    const std::string frame = Bytes({7, 0x01, 0x02, 3}) + "abc";
    Frame taken;
    std::uint32_t written = 0;
    // Every prefix of the frame is not yet a frame.
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        pair.Write(frame.substr(cut - 1, 1));
        ++written;
        ASSERT_TRUE(pair.AwaitBuffered(written));
        EXPECT_FALSE(TakeFrame(*pair.accepted, taken)) << "after " << cut << " bytes";
    }
    // The last byte completes it; an empty frame and the start of a third follow.
    pair.Write(frame.substr(frame.size() - 1) + Bytes({9, 4, 0, 0}) + Bytes({1, 2}));
    ASSERT_TRUE(pair.AwaitBuffered(static_cast<std::uint32_t>(frame.size()) + 6));

    ASSERT_TRUE(TakeFrame(*pair.accepted, taken));
    EXPECT_EQ(taken.id, 7);
    EXPECT_EQ(taken.target, 0x0201);
    EXPECT_EQ(taken.value, "abc");
    ASSERT_TRUE(TakeFrame(*pair.accepted, taken));
    EXPECT_EQ(taken.id, 9);
    EXPECT_EQ(taken.target, 4);
    EXPECT_EQ(taken.value, "");
    EXPECT_FALSE(TakeFrame(*pair.accepted, taken));
    EXPECT_EQ(pair.accepted->BufferedBytes(), 2u);
}

TEST(PeekWholeFrame, ShowsAFrameSplitAcrossReadsWholeWhereItLies) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.accepted);
    const std::string first = Bytes({5, 0x02, 0x01, 255}) + std::string(255, 'a');
    std::string second = Bytes({6, 0x04, 0x00, 200});
    for (int index = 0; index < 200; ++index) {
        second += static_cast<char>(index);
    }
    NetSocket& reader = *pair.accepted;
    // Reads straight into the buffer, as the relay does, until `count` bytes are there.
    const auto receiveUpTo = [&reader](std::size_t count) {
        for (int attempt = 0; attempt < 500 && reader.BufferedBytes() < count; ++attempt) {
            if (reader.ReceiveInPlace() == 0 && reader.BufferedBytes() < count) {
                SleepMilliseconds(10);
            }
        }
        return reader.BufferedBytes() == count;
    };
    const auto shown = [](const FrameView& frame) {
        return std::string(reinterpret_cast<const char*>(frame.bytes), frame.Size());
    };

    // The first frame whole and the second's header and a part of its value.
    pair.Write(first + second.substr(0, 60));
    ASSERT_TRUE(receiveUpTo(first.size() + 60));
    FrameView frame;
    ASSERT_TRUE(PeekWholeFrame(reader, frame));
    EXPECT_EQ(frame.id, 5);
    EXPECT_EQ(frame.target, 0x0102);
    EXPECT_EQ(frame.length, 255);
    EXPECT_EQ(shown(frame), first);
    reader.Discard(static_cast<std::uint32_t>(frame.Size()));
    EXPECT_FALSE(PeekWholeFrame(reader, frame));

    // The rest of it lands behind what is left, which has to move to the front or to new
    // storage to stay in one piece with it.
    pair.Write(second.substr(60, 100));
    ASSERT_TRUE(receiveUpTo(160));
    EXPECT_FALSE(PeekWholeFrame(reader, frame));
    pair.Write(second.substr(160) + Bytes({9}));
    ASSERT_TRUE(receiveUpTo(second.size() + 1));
    ASSERT_TRUE(PeekWholeFrame(reader, frame));
    EXPECT_EQ(frame.id, 6);
    EXPECT_EQ(frame.target, 4);
    EXPECT_EQ(shown(frame), second);
    EXPECT_EQ(frame.Value(), second.substr(FRAME_HEADER_SIZE));
    reader.Discard(static_cast<std::uint32_t>(frame.Size()));
    EXPECT_EQ(reader.BufferedBytes(), 1u);
    EXPECT_FALSE(PeekWholeFrame(reader, frame));
}

TEST(TakeFrame, SendFrameWritesWhatTakeFrameReads) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.accepted);
    Frame sent;
    sent.id = 200;
    sent.target = 65535;
    sent.value = std::string(255, '\0');
    sent.value[254] = 'z';
    ASSERT_EQ(SendFrame(pair.client, sent), 0);
    ASSERT_TRUE(pair.AwaitBuffered(259));
    Frame taken;
    ASSERT_TRUE(TakeFrame(*pair.accepted, taken));
    EXPECT_EQ(taken.id, sent.id);
    EXPECT_EQ(taken.target, sent.target);
    EXPECT_EQ(taken.value, sent.value);

    sent.value += 'x';
    EXPECT_EQ(SendFrame(pair.client, sent), 1);
}

TEST(DescribeFrame, EscapesControlBytesAndShowsTheLength) {
    Frame frame;
    frame.id = 7;
    frame.target = 4;
    frame.value = std::string("a\tb\0c\x7f\xe9", 7);
    EXPECT_EQ(DescribeFrame(frame), "id 7 target 4 length 7: a\\x09b\\x00c\\x7f\\xe9");
}
