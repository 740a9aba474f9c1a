// Multicast, lookups of names that no local file knows, and senders other than 127.0.0.1: these
// run only inside the private network namespace that run_in_netns.sh makes.

#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The second local address that run_in_netns.sh adds; datagrams sent to it come from it.
constexpr const char* OTHER_LOCAL = "192.0.2.1";
constexpr const char* GROUP = "239.12.34.56";

class NetSocketNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* inside = std::getenv("VOR_PRIVATE_NETNS");
        if (inside == nullptr || std::strcmp(inside, "1") != 0) {
            GTEST_SKIP() << "needs the private network namespace of run_in_netns.sh";
        }
    }
};

// Whether this host's interfaces are members of `group`, as the kernel lists them.
bool HostIsMemberOf(const char* group) {
    const SocketAddress address = NetSocket::MakeAddress(group, 0);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", address.address);
    std::ifstream memberships("/proc/net/igmp");
    std::stringstream text;
    text << memberships.rdbuf();
    return text.str().find(hex) != std::string::npos;
}

// The first IPv4 address that /etc/hosts gives for `name`, or empty.
std::string HostsFileAddress(const std::string& name) {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string address;
        std::string alias;
        fields >> address;
        if (address.find(':') != std::string::npos) {
            continue;
        }
        while (fields >> alias) {
            if (alias == name) {
                return address;
            }
        }
    }
    return std::string();
}

}  // namespace

TEST_F(NetSocketNamespaceTest, AMulticastEndpointReceivesWhatIsSentToItsGroupUntilClose) {
    NetSocket member;
    ASSERT_EQ(member.Open(NS_UDP | NS_MULTICAST, 0, GROUP), 0);
    EXPECT_TRUE(HostIsMemberOf(GROUP));
    const std::uint16_t port = member.LocalPort();
    NetSocket source;
    ASSERT_EQ(source.Open(NS_UDP, 0, nullptr), 0);
    ASSERT_EQ(source.Send("to the group", 12, port, GROUP), 0);
    ASSERT_TRUE(ReceiveAtLeast(member, 12));
    EXPECT_EQ(TakeAll(member), "to the group");
    // The kernel picks the source among the namespace's two local addresses.
    const std::string sender = member.PeerAddress();
    EXPECT_TRUE(sender == "127.0.0.1" || sender == OTHER_LOCAL) << sender;

    ASSERT_EQ(member.Close(), 0);
    EXPECT_FALSE(HostIsMemberOf(GROUP));
}

TEST_F(NetSocketNamespaceTest, AnUnknownNameMeansLoopback) {
    const SocketAddress address = NetSocket::MakeAddress("no-such-host.invalid", 7);
    EXPECT_EQ(address.address, NetSocket::MakeAddress("127.0.0.1", 7).address);

    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    NetSocket client;
    EXPECT_EQ(client.Open(NS_TCP, listener.LocalPort(), "no-such-host.invalid"), 0);
    EXPECT_NE(AcceptOne(listener), nullptr);
}

TEST_F(NetSocketNamespaceTest, BytesFromTheHighHalfAreNotLetters) {
    // Taken for a name, this text would be looked up, not found, and give 127.0.0.1.
    EXPECT_EQ(NetSocket::MakeAddress("1.2.3.\xc3\xa9", 1).address, 0xFFFFFFFFu);
}

TEST_F(NetSocketNamespaceTest, SenderAddressNamesTheSenderOfTheLastDatagram) {
    DatagramPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_EQ(udp.Send("abc", 3), 0);
    ASSERT_EQ(udp.Send("defg", 4, OTHER_LOCAL), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 7));
    EXPECT_EQ(TakeAll(udp.receiver), "abcdefg");
    EXPECT_EQ(udp.receiver.PeerAddress(), OTHER_LOCAL);
    EXPECT_EQ(udp.receiver.Receive(false), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), OTHER_LOCAL) << "nothing pending names no sender";

    ASSERT_EQ(udp.Send("hi", 2), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 2));
    EXPECT_EQ(udp.receiver.PeerAddress(), "127.0.0.1");
    ASSERT_EQ(udp.Send("yo", 2, OTHER_LOCAL), 0);
    ASSERT_TRUE(ReceiveAtLeast(udp.receiver, 4));
    ASSERT_EQ(udp.receiver.Close(), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), OTHER_LOCAL);
    ASSERT_EQ(udp.receiver.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_EQ(udp.receiver.PeerAddress(), OTHER_LOCAL);

    // A threaded endpoint records its senders the same way.
    NetSocket threaded;
    ASSERT_EQ(threaded.Open(NS_UDP | NS_THREADED, 0, nullptr), 0);
    ASSERT_EQ(udp.sender.Send("t", 1, threaded.LocalPort(), OTHER_LOCAL), 0);
    ASSERT_TRUE(WaitFor([&] { return threaded.BufferedBytes() == 1; }));
    EXPECT_EQ(threaded.PeerAddress(), OTHER_LOCAL);
}

TEST_F(NetSocketNamespaceTest, LocalHostAddressLooksUpTheHostName) {
    std::ifstream hostnameFile("/proc/sys/kernel/hostname");
    std::string name;
    std::getline(hostnameFile, name);
    const std::string address = NetSocket::LocalHostAddress();
    if (name.size() > 15) {
        EXPECT_EQ(address, "") << "names longer than 15 characters are not read";
    } else if (!HostsFileAddress(name).empty()) {
        EXPECT_EQ(address, HostsFileAddress(name));
    } else {
        GTEST_SKIP() << "the host name is not in /etc/hosts";
    }
}
