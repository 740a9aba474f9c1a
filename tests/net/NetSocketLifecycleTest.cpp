#include "tests/net/NetTestSupport.h"

// White-box: the address family is compared with the platform layer's own.
#include "SocketOps.h"
#include "testing/LoopbackClient.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

std::array<std::uint8_t, 4> AddressBytes(const SocketAddress& address) {
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &address.address, 4);
    return bytes;
}

std::array<std::uint8_t, 2> PortBytes(const SocketAddress& address) {
    std::array<std::uint8_t, 2> bytes{};
    std::memcpy(bytes.data(), &address.port, 2);
    return bytes;
}

// A loopback port with nobody listening on it.
std::uint16_t UnusedPort() {
    NetSocket probe;
    probe.Open(NS_TCP | NS_SERVER, 0, nullptr);
    return probe.LocalPort();
}

}  // namespace

TEST(NetSocketLifecycleTest, OpenOnAnOpenEndpointFailsAndChangesNothing) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_EQ(pair.accepted->Send("xyz", 3, 0, nullptr), 0);
    ASSERT_TRUE(ReceiveAtLeast(pair.client, 3));
    const std::uint16_t port = pair.client.LocalPort();

    EXPECT_EQ(pair.client.Open(NS_UDP, 0, nullptr), 1);
    EXPECT_EQ(pair.client.Flags(), NS_TCP);
    EXPECT_EQ(pair.client.LocalPort(), port) << "the socket was replaced";
    EXPECT_EQ(pair.client.BufferedBytes(), 3u);
    ASSERT_EQ(pair.accepted->Send("!", 1, 0, nullptr), 0);
    ASSERT_TRUE(ReceiveAtLeast(pair.client, 4));
    EXPECT_EQ(TakeAll(pair.client), "xyz!");

    const std::uint16_t listening = pair.listener.LocalPort();
    EXPECT_EQ(pair.listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 1);
    EXPECT_EQ(pair.listener.Flags(), NS_TCP | NS_SERVER);
    EXPECT_EQ(pair.listener.LocalPort(), listening);
}

TEST(NetSocketLifecycleTest, CloseTwiceGivesZeroThenOne) {
    NetSocket endpoint;
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.Close(), 1);
    ASSERT_EQ(endpoint.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.Close(), 0);
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.Close(), 1);
}

TEST(NetSocketLifecycleTest, BytesOutliveCloseAndReopenWithOtherFlagsEmptiesTheBuffer) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_EQ(pair.accepted->Send("abcdef", 6, 0, nullptr), 0);
    ASSERT_TRUE(ReceiveAtLeast(pair.client, 6));
    ASSERT_EQ(pair.client.Close(), 0);
    char first[3] = {};
    ASSERT_EQ(pair.client.Read(first, 3), 0) << "bytes buffered before Close stay readable";
    EXPECT_EQ(std::string(first, 3), "abc");
    EXPECT_EQ(pair.client.Flags(), NS_TCP);

    ASSERT_EQ(pair.client.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(pair.client.Flags(), NS_UDP);
    EXPECT_EQ(pair.client.BufferedBytes(), 0u);
    EXPECT_TRUE(pair.client.IsConnected()) << "now a datagram endpoint";

    NetSocket sender;
    ASSERT_EQ(sender.Open(NS_UDP, 0, nullptr), 0);
    ASSERT_EQ(sender.Send("dg", 2, pair.client.LocalPort(), "127.0.0.1"), 0);
    ASSERT_TRUE(ReceiveAtLeast(pair.client, 2));
    EXPECT_EQ(TakeAll(pair.client), "dg");
}

TEST(NetSocketLifecycleTest, AcceptPassesOnlyThreadedAndBlockingAndAddsTcp) {
    for (const auto& [listenerFlags, expected] :
         {std::pair{NS_TCP | NS_SERVER, NS_TCP},
          std::pair{NS_TCP | NS_SERVER | NS_BLOCKING, NS_TCP | NS_BLOCKING},
          std::pair{NS_SERVER, NS_TCP}}) {
        LoopbackPair pair;
        ASSERT_TRUE(pair.Connect(listenerFlags)) << listenerFlags;
        EXPECT_EQ(pair.accepted->Flags(), expected) << listenerFlags;
        EXPECT_TRUE(pair.accepted->IsConnected());
    }
}

TEST(NetSocketLifecycleTest, AcceptGivesNullWithoutAPendingConnectionOrListener) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    EXPECT_EQ(listener.Accept(), nullptr);

    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_EQ(pair.client.Accept(), nullptr);
    EXPECT_EQ(pair.accepted->Accept(), nullptr);
    NetSocket datagrams;
    ASSERT_EQ(datagrams.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(datagrams.Accept(), nullptr);
    NetSocket closed;
    EXPECT_EQ(closed.Accept(), nullptr);

    // A connection made to a listener that was closed is not taken from it.
    LoopbackClient late(pair.listener.LocalPort());
    ASSERT_TRUE(late.Connected());
    ASSERT_EQ(pair.listener.Close(), 0);
    EXPECT_EQ(pair.listener.Accept(), nullptr);
}

TEST(NetSocketLifecycleTest, IsConnectedOnEachKindOfEndpoint) {
    NetSocket closed;
    EXPECT_FALSE(closed.IsConnected());
    EXPECT_FALSE(closed.IsDisconnected());

    LoopbackPair pair;
    ASSERT_TRUE(pair.Connect());
    EXPECT_TRUE(pair.listener.IsConnected());
    NetSocket datagrams;
    ASSERT_EQ(datagrams.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_TRUE(datagrams.IsConnected());

    EXPECT_TRUE(pair.accepted->IsConnected()) << "idle";
    EXPECT_FALSE(pair.accepted->IsDisconnected());
    ASSERT_EQ(pair.client.Send("q", 1, 0, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return pair.accepted->IsConnected(); }));
    EXPECT_FALSE(pair.accepted->IsDisconnected()) << "unread data is not a departure";

    // With data still unread after the peer's close, the connection still counts as there.
    ASSERT_EQ(pair.client.Close(), 0);
    SleepMilliseconds(100);
    EXPECT_TRUE(pair.accepted->IsConnected());
    ASSERT_TRUE(ReceiveAtLeast(*pair.accepted, 1));
    EXPECT_EQ(TakeAll(*pair.accepted), "q");
    EXPECT_TRUE(WaitFor([&] { return !pair.accepted->IsConnected(); }));
    EXPECT_TRUE(pair.accepted->IsDisconnected());
    ASSERT_EQ(pair.accepted->Close(), 0);
    EXPECT_FALSE(pair.accepted->IsConnected());
    EXPECT_FALSE(pair.accepted->IsDisconnected());
}

TEST(NetSocketLifecycleTest, AResetConnectionIsNotConnected) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    LoopbackClient client(listener.LocalPort());
    ASSERT_TRUE(client.Connected());
    std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    client.Reset();
    EXPECT_TRUE(WaitFor([&] { return !accepted->IsConnected(); }));
    EXPECT_TRUE(accepted->IsDisconnected());
}

TEST(NetSocketLifecycleTest, IsDisconnectedMakesNoExceptionForListenersAndDatagrams) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    LoopbackClient pending(listener.LocalPort());
    ASSERT_TRUE(pending.Connected());
    EXPECT_FALSE(listener.IsDisconnected()) << "a pending connection is not a departure";

    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    EXPECT_FALSE(udp.receiver.IsDisconnected());
    ASSERT_EQ(udp.Send("", 0), 0);
    EXPECT_TRUE(WaitFor([&] { return udp.receiver.IsDisconnected(); }))
        << "a pending empty datagram reads as an ended connection";
    EXPECT_TRUE(udp.receiver.IsConnected());
}

TEST(NetSocketLifecycleTest, ClientOpenToAPortNobodyListensOnFailsButStaysOpenUntilClose) {
    const std::uint16_t port = UnusedPort();
    NetSocket client;
    EXPECT_EQ(client.Open(NS_TCP, port, "127.0.0.1"), 1);
    EXPECT_TRUE(client.IsOpen());
    EXPECT_EQ(client.Flags(), NS_TCP);
    EXPECT_EQ(client.Open(NS_TCP, port, "127.0.0.1"), 1) << "still counts as open";
    EXPECT_EQ(client.Close(), 0);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.Close(), 1);
}

// An Open that fails after its socket exists keeps the socket: the endpoint counts as open with
// the flags given, refuses a further Open, and Close releases it.
TEST(NetSocketLifecycleTest, OpenOnAPortInUseOrWithAFailedJoinFailsButStaysOpen) {
    NetSocket holder;
    ASSERT_EQ(holder.Open(NS_UDP, 0, nullptr), 0);
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    struct Failing {
        int flags;
        std::uint16_t port;
        const char* group;
    };
    // 127.0.0.1 is no multicast group, so the join fails without sending anything.
    for (const Failing& failing : {Failing{NS_UDP, holder.LocalPort(), nullptr},
                                   Failing{NS_UDP | NS_MULTICAST, 0, "127.0.0.1"},
                                   Failing{NS_TCP | NS_SERVER, listener.LocalPort(), nullptr}}) {
        NetSocket endpoint;
        EXPECT_EQ(endpoint.Open(failing.flags, failing.port, failing.group), 1) << failing.flags;
        EXPECT_TRUE(endpoint.IsOpen()) << failing.flags;
        EXPECT_EQ(endpoint.Flags(), failing.flags);
        EXPECT_EQ(endpoint.Open(NS_UDP, 0, nullptr), 1) << "still counts as open";
        EXPECT_EQ(endpoint.Close(), 0);
        EXPECT_FALSE(endpoint.IsOpen());
    }
}

TEST(NetSocketLifecycleTest, MakeAddressCases) {
    const SocketAddress any = NetSocket::MakeAddress(nullptr, 80);
    EXPECT_EQ(any.family, sockets::InetFamily());
    EXPECT_EQ(PortBytes(any), (std::array<std::uint8_t, 2>{0x00, 0x50}));
    EXPECT_EQ(AddressBytes(any), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(any.zero, "\0\0\0\0\0\0\0\0", 8), 0);

    const SocketAddress dotted = NetSocket::MakeAddress("10.1.2.3", 21);
    EXPECT_EQ(AddressBytes(dotted), (std::array<std::uint8_t, 4>{10, 1, 2, 3}));
    EXPECT_EQ(PortBytes(dotted), (std::array<std::uint8_t, 2>{0x00, 0x15}));

    EXPECT_EQ(AddressBytes(NetSocket::MakeAddress("1.2.3.256", 1)),
              (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(PortBytes(NetSocket::MakeAddress("1.2.3.4", 65534)),
              (std::array<std::uint8_t, 2>{0xFF, 0xFE}));
    EXPECT_EQ(AddressBytes(NetSocket::MakeAddress("localhost", 1)),
              (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
}
