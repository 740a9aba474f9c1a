#include "testing/ProcessStats.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace {

// Runs `close` on another thread and reports whether it came back within the time; when it did
// not, `unblock` is run so that the test can still end.
bool ReturnsPromptly(const std::function<void()>& close, const std::function<void()>& unblock) {
    std::future<void> done = std::async(std::launch::async, close);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        return true;
    }
    unblock();
    done.wait();
    return false;
}

}  // namespace

TEST(NetSocketThreadedTest, ReceiverFillsTheBufferWhileTheOwnerReads) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_THREADED));
    const std::vector<std::uint8_t> data = PatternBytes(3u << 20, 6);
    std::thread writer([&] {
        for (std::size_t sent = 0; sent < data.size(); sent += 4093) {
            const auto length = static_cast<int>(std::min<std::size_t>(4093, data.size() - sent));
            pair.accepted->Send(data.data() + sent, length, 0, nullptr);
        }
        WaitFor([&] {
            pair.accepted->FlushKeptOutput();
            return pair.accepted->KeptOutput() == 0;
        });
    });
    EXPECT_EQ(pair.client.Receive(false), 0) << "a threaded endpoint takes nothing itself";
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> piece(8192);
    const bool complete = WaitFor(
        [&] {
            const std::uint32_t count = std::min<std::uint32_t>(
                pair.client.BufferedBytes(), static_cast<std::uint32_t>(piece.size()));
            if (count > 0 && pair.client.Read(piece.data(), count) == 0) {
                received.insert(received.end(), piece.begin(), piece.begin() + count);
            }
            return received.size() >= data.size();
        },
        60000);
    writer.join();
    EXPECT_TRUE(complete);
    EXPECT_TRUE(received == data);
}

TEST(NetSocketThreadedTest, TheBufferIsNeverShownInPlaceWhileTheReceiverMayMoveIt) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_THREADED));
    ASSERT_EQ(pair.accepted->Send("abc", 3, 0, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return pair.client.BufferedBytes() == 3; }));
    EXPECT_TRUE(pair.client.UnreadBytes().empty());
    EXPECT_EQ(TakeAll(pair.client), "abc");
}

TEST(NetSocketThreadedTest, CloseWhileTheReceiverWaitsReturnsPromptly) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_THREADED));
    ASSERT_EQ(pair.accepted->Send("early", 5, 0, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return pair.client.BufferedBytes() == 5; }));
    int result = -1;
    EXPECT_TRUE(
        ReturnsPromptly([&] { result = pair.client.Close(); }, [&] { pair.accepted->Close(); }));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(TakeAll(pair.client), "early");

    // The endpoint opens again, threaded, and its new receiver works.
    ASSERT_EQ(pair.client.Open(NS_TCP | NS_THREADED, pair.listener.LocalPort(), "127.0.0.1"), 0);
    std::unique_ptr<NetSocket> second = AcceptOne(pair.listener);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->Send("again", 5, 0, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return pair.client.BufferedBytes() == 5; }));
    EXPECT_EQ(TakeAll(pair.client), "again");

    auto datagrams = std::make_unique<NetSocket>();
    ASSERT_EQ(datagrams->Open(NS_UDP | NS_THREADED, 0, nullptr), 0);
    const std::uint16_t port = datagrams->LocalPort();
    NetSocket sender;
    ASSERT_EQ(sender.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_TRUE(ReturnsPromptly([&] { datagrams.reset(); },
                                [&] { sender.Send("wake", 4, port, "127.0.0.1"); }))
        << "destroying an endpoint whose receiver waits";
}

TEST(NetSocketThreadedTest, TheReceiverEndsByItselfWhenThePeerCloses) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_THREADED | NS_BLOCKING));
    ASSERT_EQ(pair.accepted->Send("no end of line", 14, 0, nullptr), 0);
    ASSERT_EQ(pair.accepted->Close(), 0);
    char line[32];
    EXPECT_EQ(pair.client.ReadUntil(line, sizeof line, "\n"), 1);
    EXPECT_EQ(TakeAll(pair.client), "no end of line");
    EXPECT_FALSE(pair.client.IsConnected());

    // A receiver that kept calling its receive on the ended connection would burn a core.
    // The process's CPU time: std::clock gives the time on the wall on Windows.
    const std::optional<long> before = CpuMilliseconds(ThisProcess());
    SleepMilliseconds(1000);
    const std::optional<long> after = CpuMilliseconds(ThisProcess());
    ASSERT_TRUE(before && after);
    EXPECT_LT(*after - *before, 500);
    EXPECT_EQ(pair.client.Close(), 0);
}

TEST(NetSocketThreadedTest, ThreadedBlockingReadUntilSeesALineThatEndsTheConnection) {
    for (int round = 0; round < 20; ++round) {
        LoopbackPair pair;
        ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER, NS_TCP | NS_THREADED | NS_BLOCKING));
        std::thread writer([&] {
            pair.accepted->Send("last line\n", 10, 0, nullptr);
            pair.accepted->Close();
        });
        char line[32];
        EXPECT_EQ(pair.client.ReadUntil(line, sizeof line, "\n"), 0) << "round " << round;
        writer.join();
        EXPECT_STREQ(line, "last line");
    }
}

TEST(NetSocketThreadedTest, AThreadedListenerHandsItsAcceptedEndpointsAReceiver) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect(NS_TCP | NS_SERVER | NS_THREADED));
    EXPECT_EQ(pair.accepted->Flags(), NS_TCP | NS_THREADED);
    ASSERT_EQ(pair.client.Send("fill", 4, 0, nullptr), 0);
    EXPECT_TRUE(WaitFor([&] { return pair.accepted->BufferedBytes() == 4; }));
    EXPECT_EQ(TakeAll(*pair.accepted), "fill");
    EXPECT_TRUE(ReturnsPromptly([&] { pair.accepted.reset(); }, [&] { pair.client.Close(); }));
}

TEST(NetSocketThreadedTest, AThreadedDatagramEndpointCollectsDatagrams) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open(NS_UDP | NS_THREADED));
    EXPECT_EQ(udp.receiver.PeerAddress(), "");
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        const std::string datagram = "d" + std::to_string(i) + ";";
        expected += datagram;
        ASSERT_EQ(udp.Send(datagram.data(), static_cast<int>(datagram.size())), 0);
        // Read while the receiver thread may be writing it.
        const std::string peer = udp.receiver.PeerAddress();
        EXPECT_TRUE(peer.empty() || peer == "127.0.0.1") << peer;
    }
    ASSERT_TRUE(WaitFor([&] { return udp.receiver.BufferedBytes() == expected.size(); }));
    EXPECT_EQ(TakeAll(udp.receiver), expected);
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(udp.receiver.Close(), 0);
}
