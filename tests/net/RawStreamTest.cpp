#include "net/LocalAddresses.h"
#include "net/RawListener.h"
#include "net/RawStream.h"
#include "testing/PlatformTraits.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// A stream connected to a loopback listener and the listener's end of it.
struct RawPair {
    RawListener listener;
    RawStream client;
    RawStream accepted;

    bool Connect(const RawStreamSetup& setup = {}) {
        return listener.Open(Ipv4LoopbackAddress(0), 4) &&
               client.StartConnect(Ipv4LoopbackAddress(listener.Port()), setup) &&
               client.AwaitConnect(WAIT_MS) == RawStream::Connection::Open &&
               listener.Accept(accepted, WAIT_MS);
    }
};

// Reads from `stream` until `count` bytes have come or a read reports anything but bytes or
// an empty socket; the last read's outcome is in `last`.
std::vector<std::uint8_t> ReadUpTo(RawStream& stream, std::size_t count, StreamOutcome& last) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(64 * 1024);
    last = StreamOutcome::WouldBlock;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        stream.WaitReadable(50);
        const StreamTransfer read = stream.ReadSome(chunk.data(), chunk.size());
        last = read.outcome;
        if (read.outcome != StreamOutcome::Moved && read.outcome != StreamOutcome::WouldBlock) {
            break;
        }
        bytes.insert(bytes.end(), chunk.data(), chunk.data() + read.bytes);
    }
    return bytes;
}

// The outcome of the first read of `stream` that finds more than an empty socket.
StreamOutcome NextEvent(RawStream& stream) {
    StreamOutcome last = StreamOutcome::WouldBlock;
    ReadUpTo(stream, 1, last);
    return last;
}

}  // namespace

TEST(RawStreamTest, ConnectsToAListeningPortWithItsOwnPortAndFailsOnAClosedOne) {
    RawPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_NE(pair.client.LocalPort(), 0);
    EXPECT_NE(pair.client.LocalPort(), pair.listener.Port());
    EXPECT_EQ(pair.accepted.LocalPort(), pair.listener.Port());

    const std::uint16_t closedPort = pair.listener.Port();
    pair.listener.Close();
    RawStream refused;
    // Refused at once or after the handshake's answer, never open.
    if (refused.StartConnect(Ipv4LoopbackAddress(closedPort))) {
        EXPECT_EQ(refused.AwaitConnect(WAIT_MS), RawStream::Connection::Failed);
        EXPECT_EQ(refused.AwaitConnect(0), RawStream::Connection::Failed) << "outcome forgotten";
    } else {
        EXPECT_FALSE(refused.IsOpen());
    }
    EXPECT_NE(refused.WriteSome("x", 1).outcome, StreamOutcome::Moved);
}

TEST(RawStreamTest, ConnectsToTheIpv6LoopbackOnThePortItIsGiven) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER | NS_IPV6, 0, "::1"), 0) << listener.OpenFailure();
    RawStream client;
    ASSERT_TRUE(client.StartConnectIpv6(Ipv6LoopbackAddress(), listener.LocalPort()));
    ASSERT_EQ(client.AwaitConnect(WAIT_MS), RawStream::Connection::Open);
    const std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    ASSERT_EQ(client.WriteSome("v6", 2).bytes, 2u);
    ASSERT_TRUE(ReceiveAtLeast(*accepted, 2));
    EXPECT_EQ(TakeAll(*accepted), "v6");
}

TEST(RawStreamTest, AListenerKeepsItsPortFromOtherListenersUntilItCloses) {
    RawListener holder;
    ASSERT_TRUE(holder.Open(Ipv4AnyAddress(0), 1));
    const std::uint16_t port = holder.Port();
    ASSERT_NE(port, 0);

    RawListener other;
    EXPECT_FALSE(other.Open(Ipv4AnyAddress(port), 1));
    EXPECT_FALSE(other.Open(Ipv4LoopbackAddress(port), 1));
    EXPECT_FALSE(other.IsOpen());
    holder.Close();
    EXPECT_TRUE(other.Open(Ipv4LoopbackAddress(port), 1));
    EXPECT_EQ(other.Port(), port);
}

TEST(RawStreamTest, WritesUntilTheSocketIsFullThenTheOtherEndReadsEveryByteInOrder) {
    RawPair pair;
    ASSERT_TRUE(pair.Connect());
    const std::vector<std::uint8_t> pattern = PatternBytes(64 * 1024);
    std::vector<std::uint8_t> written;
    // The kernel's buffers hold a few megabytes at most: the bound only stops a broken stream.
    StreamTransfer last{};
    for (int attempt = 0; attempt < 10000; ++attempt) {
        last = pair.client.WriteSome(pattern.data(), pattern.size());
        if (last.outcome != StreamOutcome::Moved) {
            break;
        }
        written.insert(written.end(), pattern.data(), pattern.data() + last.bytes);
    }
    ASSERT_EQ(last.outcome, StreamOutcome::WouldBlock);
    ASSERT_FALSE(written.empty());

    StreamOutcome readOutcome{};
    const std::vector<std::uint8_t> read = ReadUpTo(pair.accepted, written.size(), readOutcome);
    EXPECT_EQ(read.size(), written.size());
    EXPECT_TRUE(read == written) << "bytes lost, changed or reordered";
    EXPECT_TRUE(pair.client.WaitWritable(WAIT_MS)) << "room came back once the reader read";
}

TEST(RawStreamTest, ShutdownReadsAsTheEndAndResetReadsAsAReset) {
    RawPair halfClosed;
    ASSERT_TRUE(halfClosed.Connect());
    ASSERT_EQ(halfClosed.client.WriteSome("abc", 3).bytes, 3u);
    ASSERT_TRUE(halfClosed.client.ShutdownWriting());
    StreamOutcome outcome{};
    const std::vector<std::uint8_t> before = ReadUpTo(halfClosed.accepted, 4, outcome);
    EXPECT_EQ(std::string(before.begin(), before.end()), "abc");
    EXPECT_EQ(outcome, StreamOutcome::Ended);
    // The end of one direction leaves the other open.
    ASSERT_EQ(halfClosed.accepted.WriteSome("back", 4).bytes, 4u);
    const std::vector<std::uint8_t> answer = ReadUpTo(halfClosed.client, 4, outcome);
    EXPECT_EQ(std::string(answer.begin(), answer.end()), "back");

    RawPair reset;
    ASSERT_TRUE(reset.Connect());
    reset.client.Reset();
    EXPECT_FALSE(reset.client.IsOpen());
    const StreamOutcome afterReset = NextEvent(reset.accepted);
    if (ReadsShowResets()) {
        EXPECT_EQ(afterReset, StreamOutcome::Reset);
    } else {
        EXPECT_EQ(afterReset, StreamOutcome::Ended);
    }
    EXPECT_EQ(reset.accepted.WriteSome("x", 1).outcome, StreamOutcome::Reset);

    RawPair closed;
    ASSERT_TRUE(closed.Connect());
    closed.client.Close();
    EXPECT_EQ(NextEvent(closed.accepted), StreamOutcome::Ended) << "a plain close is in order";
    EXPECT_EQ(closed.accepted.WriteSome("x", 1).outcome, StreamOutcome::Moved)
        << "the first write after an orderly close is still taken";
}
