#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include "sync/Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

namespace {

// The client writes and the accepted endpoint (non-blocking, without NS_BLOCKING) reads.
class NetSocketReadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pair.Connect()); }

    // Sends `bytes` and waits until the reader has buffered them all.
    void Feed(const std::string& bytes) {
        const std::uint32_t before = reader().BufferedBytes();
        ASSERT_EQ(pair.client.Send(bytes.data(), static_cast<int>(bytes.size()), 0, nullptr), 0);
        ASSERT_TRUE(ReceiveAtLeast(reader(), before + static_cast<std::uint32_t>(bytes.size())));
    }

    NetSocket& reader() { return *pair.accepted; }

    LoopbackPair pair;
};

}  // namespace

TEST_F(NetSocketReadTest, ReadIsAllOrNothing) {
    Feed("abc");
    char dst[8];
    std::memset(dst, 'Z', sizeof dst);
    EXPECT_EQ(reader().Read(dst, 4), 1);
    EXPECT_EQ(std::string(dst, 4), "ZZZZ");
    EXPECT_EQ(reader().BufferedBytes(), 3u);
    EXPECT_EQ(reader().Read(dst, 2), 0);
    EXPECT_EQ(std::string(dst, 2), "ab");
    EXPECT_EQ(reader().Read(dst, 1), 0);
    EXPECT_EQ(dst[0], 'c');
    EXPECT_EQ(reader().BufferedBytes(), 0u);
}

TEST_F(NetSocketReadTest, ReadOfZeroTakesEverythingAndSucceedsOnAnEmptyBuffer) {
    Feed("12345");
    char dst[8];
    std::memset(dst, 'Z', sizeof dst);
    EXPECT_EQ(reader().Read(dst, 0), 0);
    EXPECT_EQ(std::string(dst, 6), "12345Z");
    EXPECT_EQ(reader().BufferedBytes(), 0u);
    std::memset(dst, 'Z', sizeof dst);
    EXPECT_EQ(reader().Read(dst, 0), 0);
    EXPECT_EQ(dst[0], 'Z');
}

TEST_F(NetSocketReadTest, ReadUntilTakesTheTextInFrontOfTheFirstDelimiter) {
    char dst[16];
    Feed("ab\r\ncd");
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 0);
    EXPECT_STREQ(dst, "ab");
    EXPECT_EQ(TakeAll(reader()), "cd");

    Feed("\r\nxy");
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 0);
    EXPECT_STREQ(dst, "") << "a delimiter at the front";
    EXPECT_EQ(reader().BufferedBytes(), 2u);
    TakeAll(reader());

    Feed("a\r\nb\r\n");
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 0);
    EXPECT_STREQ(dst, "a");
    EXPECT_EQ(reader().BufferedBytes(), 3u);
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 0);
    EXPECT_STREQ(dst, "b");
    EXPECT_EQ(reader().BufferedBytes(), 0u);

    Feed("x\x7f\xfe\x7f\xfe\x80y");
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\xfe\x80"), 0);
    EXPECT_STREQ(dst, "x\x7f\xfe\x7f");
    EXPECT_EQ(TakeAll(reader()), "y");
}

TEST_F(NetSocketReadTest, ReadUntilWithoutTheDelimiterTakesNothing) {
    Feed("abc\r");
    char dst[16];
    std::memset(dst, 'Q', sizeof dst);
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 1);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(reader().BufferedBytes(), 4u);

    // The rest of the delimiter completes it.
    Feed("\n");
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, "\r\n"), 0);
    EXPECT_STREQ(dst, "abc");
}

TEST_F(NetSocketReadTest, ReadUntilNeedsRoomForTheTextAndItsNul) {
    Feed("abcdef\r\n");
    char dst[16];
    std::memset(dst, 'Q', sizeof dst);
    EXPECT_EQ(reader().ReadUntil(dst, 6, "\r\n"), 1);
    EXPECT_EQ(dst[6], 'Q') << "written past the capacity";
    EXPECT_EQ(reader().BufferedBytes(), 8u);
    EXPECT_EQ(reader().ReadUntil(dst, 7, "\r\n"), 0);
    EXPECT_STREQ(dst, "abcdef");
    EXPECT_EQ(reader().BufferedBytes(), 0u);
}

TEST_F(NetSocketReadTest, AnEmptyDelimiterMatchesAtTheFront) {
    Feed("abc");
    char dst[4] = {'Q', 'Q', 'Q', 'Q'};
    EXPECT_EQ(reader().ReadUntil(dst, sizeof dst, ""), 0);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(reader().BufferedBytes(), 3u);
}

TEST_F(NetSocketReadTest, ReceiveLimitLeavesTheRestInTheSocketAndLosesNothing) {
    const std::vector<std::uint8_t> data = PatternBytes(300000, 4);
    const std::string text(data.begin(), data.end());
    reader().SetReceiveLimit(1000);
    std::thread writer(
        [&] { pair.client.Send(text.data(), static_cast<int>(text.size()), 0, nullptr); });
    ASSERT_TRUE(ReceiveAtLeast(reader(), 1000));
    EXPECT_EQ(reader().BufferedBytes(), 1000u);
    char line[2000];
    EXPECT_EQ(reader().ReadUntil(line, sizeof line, "no such delimiter"), 1);
    EXPECT_EQ(reader().BufferedBytes(), 1000u);

    std::string received;
    std::vector<char> piece(1000);
    while (received.size() < text.size()) {
        ASSERT_TRUE(ReceiveAtLeast(reader(), 1));
        ASSERT_LE(reader().BufferedBytes(), 1000u);
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(
            600, std::min<std::size_t>(reader().BufferedBytes(), text.size() - received.size())));
        ASSERT_EQ(reader().Read(piece.data(), count), 0);
        received.append(piece.data(), count);
    }
    writer.join();
    EXPECT_TRUE(received == text);
}

TEST_F(NetSocketReadTest, AMultiMegabyteBacklogDrainsExactlyInSmallReads) {
    const std::vector<std::uint8_t> data = PatternBytes(6u << 20, 8);
    std::thread writer(
        [&] { pair.client.Send(data.data(), static_cast<int>(data.size()), 0, nullptr); });
    ASSERT_TRUE(ReceiveAtLeast(reader(), static_cast<std::uint32_t>(data.size()), 60000));
    writer.join();
    std::vector<std::uint8_t> received;
    std::uint8_t piece[259];
    while (reader().Read(piece, sizeof piece) == 0) {
        received.insert(received.end(), piece, piece + sizeof piece);
    }
    const std::uint32_t rest = reader().BufferedBytes();
    EXPECT_LT(rest, sizeof piece);
    ASSERT_EQ(reader().Read(piece, 0), 0);
    received.insert(received.end(), piece, piece + rest);
    EXPECT_TRUE(received == data);
}

TEST_F(NetSocketReadTest, ReceiveOnAListenerOrAClosedEndpointFails) {
    EXPECT_EQ(pair.listener.Receive(false), 1);
    NetSocket closed;
    EXPECT_EQ(closed.Receive(false), 1);
    EXPECT_EQ(reader().Receive(false), 0) << "nothing pending is not a failure";
}

TEST(NetSocketBlockingReadTest, AnAcceptedBlockingEndpointDoesNotWaitOnAnEmptyBuffer) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER | NS_BLOCKING));
    ASSERT_EQ(pair.accepted->Flags(), NS_TCP | NS_BLOCKING);
    char dst[4];
    EXPECT_EQ(pair.accepted->Read(dst, 1), 1);
}

TEST(NetSocketBlockingReadTest, ReadUntilWaitsForADelimiterThatArrivesLaterAndReturnsSoon) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_BLOCKING));
    std::atomic<std::int64_t> delimiterSent{0};
    std::thread writer([&] {
        pair.accepted->Send("hel", 3, 0, nullptr);
        SleepMilliseconds(150);
        delimiterSent = std::chrono::steady_clock::now().time_since_epoch().count();
        pair.accepted->Send("lo\r\nrest", 8, 0, nullptr);
    });
    char dst[16];
    EXPECT_EQ(pair.client.ReadUntil(dst, sizeof dst, "\r\n"), 0);
    const std::chrono::steady_clock::duration waited =
        std::chrono::steady_clock::now().time_since_epoch() -
        std::chrono::steady_clock::duration(delimiterSent.load());
    writer.join();
    EXPECT_STREQ(dst, "hello");
    // It waits in short steps, not for more input or the end of the connection; the bound is
    // generous for a loaded machine.
    EXPECT_LT(waited, std::chrono::seconds(2));
    EXPECT_TRUE(WaitFor([&] {
        pair.client.Receive(false);
        return pair.client.BufferedBytes() == 4;
    }));
}

TEST(NetSocketBlockingReadTest, ReadUntilEndsWhenThePeerClosesBeforeTheDelimiter) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_BLOCKING));
    char dst[16];
    // Closed while the reader waits with an empty buffer.
    std::thread closer([&] {
        SleepMilliseconds(100);
        pair.accepted->Close();
    });
    EXPECT_EQ(pair.client.ReadUntil(dst, sizeof dst, "\r\n"), 1);
    closer.join();
    EXPECT_STREQ(dst, "");
}

TEST(NetSocketBlockingReadTest, ReadUntilEndsWhenThePeerClosesAfterSendingPartOfALine) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_BLOCKING));
    ASSERT_EQ(pair.accepted->Send("partial", 7, 0, nullptr), 0);
    ASSERT_EQ(pair.accepted->Close(), 0);
    char dst[16];
    EXPECT_EQ(pair.client.ReadUntil(dst, sizeof dst, "\r\n"), 1);
    EXPECT_EQ(TakeAll(pair.client), "partial") << "the bytes before the close stay buffered";
}

TEST(NetSocketDatagramReadTest, OneReceiveTakesSuccessiveDatagramsInOrder) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_EQ(udp.Send("abc", 3), 0);
    ASSERT_EQ(udp.Send("defg", 4), 0);
    EXPECT_TRUE(WaitFor([&] {
        EXPECT_EQ(udp.receiver.Receive(false), 0);
        return udp.receiver.BufferedBytes() >= 7;
    }));
    EXPECT_EQ(TakeAll(udp.receiver), "abcdefg");
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(udp.receiver.Receive(false), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1") << "nothing pending names no sender";
}

// An empty datagram reads like the end of a connection to the liveness test; a datagram
// endpoint has no connection, so a blocking ReadUntil goes on waiting for its delimiter.
TEST(NetSocketDatagramReadTest, ABlockingReadUntilWaitsPastAnEmptyDatagram) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open(NS_UDP | NS_BLOCKING));
    // Room for less than one more chunk once "ab" is in, so that the empty datagram behind it
    // stays on the socket for the liveness test to find.
    udp.receiver.SetReceiveLimit(RECEIVE_CHUNK + 1);
    ASSERT_EQ(udp.Send("ab", 2), 0);
    ASSERT_EQ(udp.Send("", 0), 0);

    struct Reader {
        NetSocket* endpoint;
        std::atomic<bool> returned{false};
        char line[16] = {};
    } reader{&udp.receiver};
    Thread thread;
    ASSERT_EQ(thread.Start(
                  [](void* self) {
                      auto* r = static_cast<Reader*>(self);
                      r->endpoint->ReadUntil(r->line, sizeof r->line, "\n");
                      r->returned = true;
                  },
                  &reader),
              0);
    // Several tries of the read, each with its liveness test.
    EXPECT_FALSE(WaitFor([&] { return reader.returned.load(); }, 20 * READ_RETRY_MS))
        << "ReadUntil gave up on an empty datagram";
    EXPECT_EQ(thread.Kill(), 0) << "the read was not waiting";
    EXPECT_EQ(udp.receiver.BufferedBytes(), 2u);
}

TEST(NetSocketDatagramReadTest, ADatagramLongerThanTheChunkIsLostWithAFailure) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    const std::vector<std::uint8_t> data = PatternBytes(RECEIVE_CHUNK + 1, 2);
    ASSERT_EQ(udp.Send(data.data(), static_cast<int>(data.size())), 0);
    EXPECT_TRUE(WaitFor([&] { return udp.receiver.Receive(false) == 1; }));
    EXPECT_EQ(udp.receiver.BufferedBytes(), 0u);

    // A datagram of exactly one chunk fits.
    ASSERT_EQ(udp.Send(data.data(), static_cast<int>(RECEIVE_CHUNK)), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, static_cast<std::uint32_t>(RECEIVE_CHUNK)));
    std::vector<std::uint8_t> received(RECEIVE_CHUNK);
    ASSERT_EQ(udp.receiver.Read(received.data(), 0), 0);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin()));
}

TEST(NetSocketDatagramReadTest, AnEmptyDatagramDoesNotHoldBackLaterOnes) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_EQ(udp.Send("", 0), 0);
    ASSERT_EQ(udp.Send("xy", 2), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 2));
    EXPECT_EQ(TakeAll(udp.receiver), "xy");
}

TEST_F(NetSocketReadTest, ReceiveInPlaceTakesUpToTheLimitAndLosesNothing) {
    const std::vector<std::uint8_t> data = PatternBytes(200000, 5);
    reader().SetReceiveLimit(64u * 1024u);
    std::thread writer(
        [&] { pair.client.Send(data.data(), static_cast<int>(data.size()), 0, nullptr); });
    std::vector<std::uint8_t> received;
    std::uint8_t piece[7000];
    const bool complete = WaitFor([&] {
        if (reader().ReceiveInPlace() != 0 || reader().BufferedBytes() > 64u * 1024u) {
            return true;
        }
        const std::uint32_t count = reader().PeekUpTo(piece, sizeof piece);
        reader().Discard(count);
        received.insert(received.end(), piece, piece + count);
        return received.size() >= data.size();
    });
    writer.join();
    ASSERT_TRUE(complete);
    EXPECT_LE(reader().BufferedBytes(), 64u * 1024u);
    EXPECT_TRUE(received == data);
}

TEST_F(NetSocketReadTest, ReceiveInPlaceStopsAtAFullBufferAndSeesTheEnd) {
    reader().SetReceiveLimit(4);
    ASSERT_EQ(pair.client.Send("abcdef", 6, 0, nullptr), 0);
    ASSERT_TRUE(
        WaitFor([&] { return reader().ReceiveInPlace() == 0 && reader().BufferedBytes() == 4; }));
    EXPECT_EQ(reader().ReceiveInPlace(), 0);
    EXPECT_EQ(reader().BufferedBytes(), 4u);
    reader().Discard(3);
    pair.client.Close();
    ASSERT_TRUE(
        WaitFor([&] { return reader().ReceiveInPlace() == 0 && reader().BufferedBytes() == 3; }));
    EXPECT_EQ(TakeAll(reader()), "def");
    EXPECT_FALSE(reader().IsConnected());
}

TEST_F(NetSocketReadTest, ReceiveInPlaceTakesABurstLargerThanTheBuffersRoomInOneCall) {
    // One send of a few KiB arrives over loopback as one segment, so the first receive that finds
    // anything finds all of it: what the buffer's room cannot hold comes through the stack area.
    const std::vector<std::uint8_t> data = PatternBytes(3 * IN_PLACE_ROOM + 17, 3);
    ASSERT_EQ(pair.client.Send(data.data(), static_cast<int>(data.size()), 0, nullptr), 0);
    ASSERT_TRUE(
        WaitFor([&] { return reader().ReceiveInPlace() == 0 && reader().BufferedBytes() > 0; }));
    const std::span<const std::uint8_t> unread = reader().UnreadBytes();
    EXPECT_TRUE(std::vector<std::uint8_t>(unread.begin(), unread.end()) == data);
}

TEST_F(NetSocketReadTest, PeekUpToCopiesWithoutTakingAndDiscardDrops) {
    Feed("abcdef");
    char dst[8] = {};
    EXPECT_EQ(reader().PeekUpTo(dst, 4), 4u);
    EXPECT_EQ(std::string(dst, 4), "abcd");
    EXPECT_EQ(reader().PeekUpTo(dst, sizeof dst), 6u);
    EXPECT_EQ(std::string(dst, 6), "abcdef");
    reader().Discard(2);
    EXPECT_EQ(reader().PeekUpTo(dst, sizeof dst), 4u);
    EXPECT_EQ(std::string(dst, 4), "cdef");
    reader().Discard(100);
    EXPECT_EQ(reader().BufferedBytes(), 0u);
    EXPECT_EQ(reader().PeekUpTo(dst, sizeof dst), 0u);
}

TEST_F(NetSocketReadTest, ReceiveInPlaceFillsTheSpareRoomThenTheStackAreaWithinTheLimit) {
    // A plain receive leaves the buffer with storage of its own; drained, all of it is spare.
    Feed("warm");
    EXPECT_EQ(TakeAll(reader()), "warm");
    const std::size_t limit = 3000;
    reader().SetReceiveLimit(limit);
    // More than the spare room and more than the limit, so that reads are split between the
    // buffer and the stack area and stop at the limit.
    const std::vector<std::uint8_t> data = PatternBytes(4 * RECEIVE_CHUNK + 123, 7);
    ASSERT_EQ(pair.client.Send(data.data(), static_cast<int>(data.size()), 0, nullptr), 0);
    std::vector<std::uint8_t> received;
    bool overLimit = false;
    const bool complete = WaitFor([&] {
        if (reader().ReceiveInPlace() != 0) {
            return true;
        }
        overLimit = overLimit || reader().BufferedBytes() > limit;
        const std::span<const std::uint8_t> unread = reader().UnreadBytes();
        // Taking a part only now and then lets the buffer hold a remainder at its front.
        if (unread.size() >= limit / 2) {
            received.insert(received.end(), unread.begin(), unread.end() - 5);
            reader().Discard(static_cast<std::uint32_t>(unread.size() - 5));
        }
        if (received.size() + reader().BufferedBytes() == data.size()) {
            const std::span<const std::uint8_t> rest = reader().UnreadBytes();
            received.insert(received.end(), rest.begin(), rest.end());
            return true;
        }
        return false;
    });
    ASSERT_TRUE(complete);
    EXPECT_FALSE(overLimit);
    EXPECT_TRUE(received == data);
}
