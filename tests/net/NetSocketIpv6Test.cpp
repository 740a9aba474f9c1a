// The IPv6 listener and client beside the IPv4 endpoint, on the loopback address ::1.

#include "tests/net/NetTestSupport.h"

#include "testing/LoopbackClient.h"
#include "testing/PlatformTraits.h"

#include <gtest/gtest.h>

namespace {

constexpr int IPV6_LISTENER = NS_TCP | NS_SERVER | NS_IPV6;

}  // namespace

TEST(NetSocketIpv6Test, ListenerOnLoopbackTakesAClientAndBytesGoBothWays) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    NetSocket listener;
    ASSERT_EQ(listener.Open(IPV6_LISTENER, 0, "::1"), 0) << listener.OpenFailure();
    const std::uint16_t port = listener.LocalPort();
    ASSERT_NE(port, 0);

    NetSocket client;
    ASSERT_EQ(client.Open(NS_TCP | NS_IPV6, port, "::1"), 0) << client.OpenFailure();
    const std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->PeerAddress(), "::1");
    EXPECT_EQ(client.PeerAddress(), "::1");
    EXPECT_EQ(accepted->Flags(), NS_TCP);

    ASSERT_EQ(client.Send("ping", 4, 0, nullptr), 0);
    ASSERT_TRUE(ReceiveAtLeast(*accepted, 4));
    EXPECT_EQ(TakeAll(*accepted), "ping");
    ASSERT_EQ(accepted->Send("pong!", 5, 0, nullptr), 0);
    ASSERT_TRUE(ReceiveAtLeast(client, 5));
    EXPECT_EQ(TakeAll(client), "pong!");

    client.Close();
    EXPECT_TRUE(WaitFor([&] { return !accepted->IsConnected(); }));
    // The address it was accepted from still names it once the peer has gone.
    EXPECT_EQ(accepted->PeerAddress(), "::1");
}

TEST(NetSocketIpv6Test, LoopbackListenerIsNotReachedOverIpv4AndKeepsItsPort) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    NetSocket listener;
    ASSERT_EQ(listener.Open(IPV6_LISTENER, 0, "::1"), 0) << listener.OpenFailure();
    LoopbackClient overIpv4(listener.LocalPort());
    EXPECT_FALSE(overIpv4.Connected());

    // A second listener on the same port is refused, and says why.
    NetSocket second;
    EXPECT_EQ(second.Open(IPV6_LISTENER, listener.LocalPort(), "::1"), 1);
    EXPECT_TRUE(second.OpenFailure().starts_with("bind: ")) << second.OpenFailure();
}

TEST(NetSocketIpv6Test, EveryInterfaceListenerTakesIpv4PeersAsIpv4Addresses) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    if (!AllowsDualStack()) {
        GTEST_SKIP() << NO_DUAL_STACK;
    }
    NetSocket listener;
    ASSERT_EQ(listener.Open(IPV6_LISTENER, 0, nullptr), 0) << listener.OpenFailure();
    LoopbackClient overIpv4(listener.LocalPort());
    ASSERT_TRUE(overIpv4.Connected());
    const std::unique_ptr<NetSocket> fromIpv4 = AcceptOne(listener);
    ASSERT_NE(fromIpv4, nullptr);
    EXPECT_EQ(fromIpv4->PeerAddress(), "127.0.0.1");

    LoopbackClient overIpv6;
    ASSERT_TRUE(overIpv6.ConnectIpv6(listener.LocalPort()));
    const std::unique_ptr<NetSocket> fromIpv6 = AcceptOne(listener);
    ASSERT_NE(fromIpv6, nullptr);
    EXPECT_EQ(fromIpv6->PeerAddress(), "::1");
}

TEST(NetSocketIpv6Test, OpenRefusesWhatIsNotAnIpv6TcpEndpoint) {
    const std::vector<std::pair<int, const char*>> refused = {
        {IPV6_LISTENER, "127.0.0.1"},
        {IPV6_LISTENER, "localhost"},
        {IPV6_LISTENER, "[::1]"},
        // A client needs an address to connect to.
        {NS_TCP | NS_IPV6, nullptr},
        {NS_UDP | NS_IPV6, "::1"},
    };
    for (const auto& [flags, host] : refused) {
        NetSocket endpoint;
        EXPECT_EQ(endpoint.Open(flags, 0, host), 1) << (host ? host : "null");
        EXPECT_FALSE(endpoint.IsOpen());
        EXPECT_EQ(endpoint.OpenFailure(), "address: not an IPv6 TCP endpoint");
    }
}

TEST(NetSocketIpv6Test, ClientFailsWhereNothingListens) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    std::uint16_t unused = 0;
    {
        NetSocket probe;
        ASSERT_EQ(probe.Open(IPV6_LISTENER, 0, "::1"), 0);
        unused = probe.LocalPort();
    }
    NetSocket client;
    EXPECT_EQ(client.Open(NS_TCP | NS_IPV6, unused, "::1"), 1);
    EXPECT_TRUE(client.OpenFailure().starts_with("connect: ")) << client.OpenFailure();
}
