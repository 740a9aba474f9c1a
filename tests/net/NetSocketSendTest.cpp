#include "testing/LoopbackClient.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace {

// A listener, a raw client that reads only when told to, and the endpoint accepted for it. The
// client keeps its default receive buffer: a tiny window makes loopback transfers crawl.
struct SlowReaderPair {
    NetSocket listener;
    std::unique_ptr<LoopbackClient> peer;
    std::unique_ptr<NetSocket> accepted;

    bool Connect() {
        if (listener.Open(NS_TCP | NS_SERVER, 0, nullptr) != 0) {
            return false;
        }
        peer = std::make_unique<LoopbackClient>(listener.LocalPort());
        accepted = AcceptOne(listener);
        return peer->Connected() && accepted != nullptr;
    }

    // Writes the kept output as the peer makes room; false when some is still kept after a
    // minute.
    bool FlushWhileThePeerReads() {
        return WaitFor(
            [&] {
                accepted->FlushKeptOutput();
                return accepted->KeptOutput() == 0;
            },
            60000);
    }
};

inline constexpr std::size_t CHUNK = 64 * 1024;

// Sends `data` in small pieces until the endpoint keeps some of it, then has the peer read every
// byte the sockets took, so that the socket has room again while output is still kept. The
// count of bytes sent; 0 when nothing was kept or the peer read something else.
std::size_t KeepSomeThenMakeRoom(SlowReaderPair& pair, const std::vector<std::uint8_t>& data) {
    constexpr std::size_t PIECE = 4096;
    std::size_t sent = 0;
    while (pair.accepted->KeptOutput() == 0 && sent + PIECE <= data.size()) {
        const std::size_t length = PIECE - sent % 7;
        if (pair.accepted->Send(data.data() + sent, static_cast<int>(length), 0, nullptr) != 0) {
            return 0;
        }
        sent += length;
    }
    const std::size_t taken = sent - pair.accepted->KeptOutput();
    const auto received = pair.peer->ReadExactly(taken, WAIT_MS);
    if (pair.accepted->KeptOutput() == 0 || !received ||
        !std::equal(received->begin(), received->end(), data.begin())) {
        return 0;
    }
    // The peer acknowledges what it read, which frees the sender's socket.
    SleepMilliseconds(200);
    return sent;
}

// The last `count` of the first `sent` bytes of `data`.
std::vector<std::uint8_t> TailOf(const std::vector<std::uint8_t>& data, std::size_t sent,
                                 std::size_t count) {
    return std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(sent - count),
                                     data.begin() + static_cast<std::ptrdiff_t>(sent));
}

}  // namespace

TEST(NetSocketSendTest, SendDelimitedPutsDataThenDelimiterOnTheWire) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    LoopbackClient peer(listener.LocalPort());
    std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    accepted->SendDelimited("abc", 3, "\r\n", 0, nullptr);
    const auto bytes = peer.ReadExactly(5);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{'a', 'b', 'c', 0x0D, 0x0A}));
    EXPECT_TRUE(peer.NothingArrives(200)) << "the delimiter's NUL is not sent";

    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    udp.sender.SendDelimited("abc", 3, "\r\n", udp.receiver.LocalPort(), "127.0.0.1");
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 5));
    char line[8];
    EXPECT_EQ(udp.receiver.ReadUntil(line, sizeof line, "\r\n"), 0);
    EXPECT_STREQ(line, "abc");
}

TEST(NetSocketSendTest, SendRefusesClosedListeningAndUnaddressedEndpoints) {
    NetSocket closed;
    EXPECT_EQ(closed.Send("a", 1, 0, nullptr), 1);
    closed.SendDelimited("a", 1, "\n", 0, nullptr);

    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_EQ(pair.listener.Send("a", 1, 0, nullptr), 1);
    pair.listener.SendDelimited("a", 1, "\n", 0, nullptr);
    EXPECT_EQ(pair.client.Send("a", 1, 0, nullptr), 0);
    ASSERT_EQ(pair.client.Close(), 0);
    EXPECT_EQ(pair.client.Send("a", 1, 0, nullptr), 1);

    NetSocket datagrams;
    ASSERT_EQ(datagrams.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(datagrams.Send("a", 1, 0, nullptr), 1) << "0.0.0.0 port 0 is refused";
    EXPECT_EQ(datagrams.Send("a", 1, pair.listener.LocalPort(), "127.0.0.1"), 0);
}

TEST(NetSocketSendTest, PeerAddressOfStreamsAndDatagrams) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_EQ(pair.accepted->PeerAddress(), "127.0.0.1");
    EXPECT_EQ(pair.client.PeerAddress(), "127.0.0.1");

    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    EXPECT_EQ(udp.receiver.PeerAddress(), "");
    ASSERT_EQ(udp.Send("x", 1), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 1));
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1");
    ASSERT_EQ(udp.receiver.Close(), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1");
    ASSERT_EQ(udp.receiver.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1") << "Open keeps the last sender";

    // An accepted stream's peer is no datagram sender: opened again as a datagram endpoint, it
    // has had no sender yet.
    ASSERT_EQ(pair.accepted->Close(), 0);
    ASSERT_EQ(pair.accepted->Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(pair.accepted->PeerAddress(), "");
}

TEST(NetSocketSendTest, ABlockingEndpointWritesTheWholeBuffer) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    const std::vector<std::uint8_t> data = PatternBytes(4u << 20, 5);
    std::thread reader(
        [&] { ReceiveAtLeast(*pair.accepted, static_cast<std::uint32_t>(data.size())); });
    EXPECT_EQ(pair.client.Send(data.data(), static_cast<int>(data.size()), 0, nullptr), 0);
    EXPECT_EQ(pair.client.KeptOutput(), 0u);
    reader.join();
    std::vector<std::uint8_t> received(data.size());
    ASSERT_EQ(pair.accepted->Read(received.data(), static_cast<std::uint32_t>(received.size())), 0);
    EXPECT_TRUE(received == data);
}

// A peer that does not read makes a non-blocking endpoint keep its output; once the peer reads,
// every byte arrives once and in order. The parameter is the most a send call is given, so that
// the socket takes each write in several parts (0: as much as it takes).
class KeptOutputInParts : public testing::TestWithParam<std::size_t> {};

TEST_P(KeptOutputInParts, OutputASlowPeerCannotTakeIsKeptAndFlushedInOrder) {
    SlowReaderPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.accepted->LimitEachWrite(GetParam());
    const std::vector<std::uint8_t> data = PatternBytes(32u << 20, 9);
    // Odd sizes, so that a kept piece written twice or skipped shifts the bytes after it. A
    // socket that is briefly full may take more later, so the kept output is only required to
    // reach a size that a few refused sends could not explain.
    std::size_t sent = 0;
    int sends = 0;
    while (pair.accepted->KeptOutput() < 4 * CHUNK && sent + CHUNK <= data.size()) {
        const std::size_t length = CHUNK - 1 - static_cast<std::size_t>(sends++ % 7);
        ASSERT_EQ(pair.accepted->Send(data.data() + sent, static_cast<int>(length), 0, nullptr), 0);
        sent += length;
    }
    ASSERT_GE(pair.accepted->KeptOutput(), 4 * CHUNK) << "the peer's socket never filled up";
    ASSERT_LE(pair.accepted->KeptOutput(), KEPT_OUTPUT_LIMIT);
    EXPECT_TRUE(pair.accepted->IsConnected());

    std::optional<std::vector<std::uint8_t>> received;
    std::thread reader([&] { received = pair.peer->ReadExactly(sent, 60000); });
    EXPECT_TRUE(pair.FlushWhileThePeerReads());
    reader.join();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(std::equal(received->begin(), received->end(), data.begin()));
    EXPECT_TRUE(pair.peer->NothingArrives(200));
}

INSTANTIATE_TEST_SUITE_P(NetSocketSendTest, KeptOutputInParts,
                         testing::Values(std::size_t{0}, std::size_t{997}, std::size_t{4096}));

TEST(NetSocketSendTest, PassingTheKeptOutputLimitEndsTheConnection) {
    SlowReaderPair pair;
    ASSERT_TRUE(pair.Connect());
    const std::vector<std::uint8_t> data = PatternBytes(CHUNK, 11);
    std::size_t keptBeforeFailure = 0;
    int result = 0;
    for (int sends = 0; result == 0 && sends < 4096; ++sends) {
        keptBeforeFailure = pair.accepted->KeptOutput();
        ASSERT_LE(keptBeforeFailure, KEPT_OUTPUT_LIMIT);
        result = pair.accepted->Send(data.data(), static_cast<int>(data.size()), 0, nullptr);
    }
    ASSERT_EQ(result, 1);
    EXPECT_GT(keptBeforeFailure + CHUNK, KEPT_OUTPUT_LIMIT) << "failed before the limit";
    EXPECT_FALSE(pair.accepted->IsConnected());
    EXPECT_EQ(pair.accepted->Send("a", 1, 0, nullptr), 1);
    EXPECT_EQ(pair.accepted->FlushKeptOutput(), 1);
    EXPECT_TRUE(pair.peer->ClosedByPeer(60000));
}

TEST(NetSocketSendTest, SendingToAResetPeerFailsWithoutEndingTheProcess) {
    SlowReaderPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.peer->Reset();
    int result = 0;
    EXPECT_TRUE(WaitFor([&] {
        result = pair.accepted->Send("ping", 4, 0, nullptr);
        return result == 1;
    }));
    EXPECT_FALSE(pair.accepted->IsConnected());
}

// An endpoint that keeps output of its own while its socket has room again.
class KeptOutputWithRoom : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pair.Connect());
        sent = KeepSomeThenMakeRoom(pair, data);
        ASSERT_GT(sent, 0u) << "the peer's socket never filled up";
        kept = pair.accepted->KeptOutput();
    }

    SlowReaderPair pair;
    const std::vector<std::uint8_t> data = PatternBytes(32u << 20, 13);
    std::size_t sent = 0;
    std::size_t kept = 0;
};

TEST_F(KeptOutputWithRoom, ASendGoesBehindTheKeptOutput) {
    const std::vector<std::uint8_t> newer = {'n', 'e', 'w'};
    ASSERT_EQ(pair.accepted->Send(newer.data(), 3, 0, nullptr), 0);
    ASSERT_EQ(pair.accepted->FlushKeptOutput(), 0);
    std::vector<std::uint8_t> expected = TailOf(data, sent, kept);
    expected.insert(expected.end(), newer.begin(), newer.end());
    EXPECT_EQ(pair.peer->ReadExactly(expected.size()), expected);
    EXPECT_TRUE(pair.peer->NothingArrives(100));
}

TEST_F(KeptOutputWithRoom, CloseWritesTheKeptOutputBeforeTheEnd) {
    ASSERT_EQ(pair.accepted->Close(), 0);
    EXPECT_EQ(pair.peer->ReadExactly(kept), TailOf(data, sent, kept));
    EXPECT_TRUE(pair.peer->ClosedByPeer());
}

// Kept output waits for FlushKeptOutput, behind what is kept already; what a reading peer's
// socket takes does not count against the limit, however much is kept between two flushes.
TEST(NetSocketSendTest, KeepOutputKeepsBytesUntilFlushedAndCountsOnlyWhatTheSocketRefuses) {
    SlowReaderPair pair;
    ASSERT_TRUE(pair.Connect());
    const std::vector<std::uint8_t> data = PatternBytes(4 * KEPT_OUTPUT_LIMIT, 23);
    ASSERT_EQ(pair.accepted->KeepOutput(data.data(), 100), 0);
    EXPECT_EQ(pair.accepted->KeptOutput(), 100u);
    EXPECT_TRUE(pair.peer->NothingArrives(100)) << "nothing is written before the flush";

    std::optional<std::vector<std::uint8_t>> received;
    std::thread reader([&] { received = pair.peer->ReadExactly(data.size(), 60000); });
    for (std::size_t sent = 100; sent < data.size();) {
        const std::size_t length = std::min(CHUNK - sent % 11, data.size() - sent);
        if (pair.accepted->KeepOutput(data.data() + sent, static_cast<int>(length)) != 0) {
            ADD_FAILURE() << "refused after " << sent << " bytes";
            // The reader then sees the end at once instead of waiting for the rest.
            pair.accepted->Close();
            break;
        }
        EXPECT_LE(pair.accepted->KeptOutput(), KEPT_OUTPUT_LIMIT);
        sent += length;
    }
    EXPECT_TRUE(pair.FlushWhileThePeerReads());
    reader.join();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(*received == data);
}

TEST(NetSocketSendTest, KeepOutputRefusesWhatSendRefuses) {
    NetSocket closed;
    EXPECT_EQ(closed.KeepOutput("a", 1), 1);
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_EQ(pair.listener.KeepOutput("a", 1), 1);
    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    EXPECT_EQ(udp.sender.KeepOutput("a", 1), 1);
    EXPECT_EQ(udp.sender.KeptOutput(), 0u);
}
