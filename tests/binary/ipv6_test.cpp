// The real binary listening on IPv6 (--bind with an IPv6 literal), its players shown in their
// own family.

#include "testing/LoopbackClient.h"
#include "testing/PlatformTraits.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string AdmissionLine(const std::string& address, int id) {
    return "New connection from " + address + ", assigned to player ID " + std::to_string(id) +
           ".\n";
}

std::string PerAddressRefusal(const std::string& address) {
    return "Refused a connection from " + address +
           ": too many players from that address (--max-per-address 1).\n";
}

std::unique_ptr<LoopbackClient> JoinOverIpv6(std::uint16_t port, std::uint16_t expectedId) {
    auto client = std::make_unique<LoopbackClient>();
    EXPECT_TRUE(client->ConnectIpv6(port));
    EXPECT_EQ(client->ReadGreeting(WAIT_MS), expectedId);
    return client;
}

TEST(Ipv6Binary, ClientJoinsOverLoopbackAndIsListedByItsIpv6Address) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    std::uint16_t port = 0;
    // The listening line is the same as for IPv4.
    auto server = StartOnPort({"--bind", "::1"}, port);
    ASSERT_NE(server, nullptr);

    auto first = JoinOverIpv6(port, FIRST_ID);
    auto second = JoinOverIpv6(port, FIRST_ID + 1);
    ASSERT_TRUE(server->WaitForOutput(AdmissionLine("::1", FIRST_ID + 1), WAIT_MS));
    EXPECT_EQ(server->Output(), CommandLineTranscript(std::to_string(port)) +
                                    AdmissionLine("::1", FIRST_ID) +
                                    AdmissionLine("::1", FIRST_ID + 1));

    ASSERT_TRUE(first->SendFrame(9, FIRST_ID + 1, "over v6"));
    EXPECT_EQ(second->ReadFrame(WAIT_MS), (Frame{9, FIRST_ID + 1, "over v6"}));

    server->WriteInput("players\n");
    EXPECT_TRUE(server->WaitForOutput("Player 2: ::1, connected for ", WAIT_MS));
    EXPECT_TRUE(server->WaitForOutput("Player 3: ::1, connected for ", WAIT_MS));

    // Bound to ::1 alone, the server is not reached over IPv4.
    LoopbackClient overIpv4(port);
    EXPECT_FALSE(overIpv4.Connected());
}

TEST(Ipv6Binary, EveryInterfaceServesBothFamiliesAndLimitsEachAddressOnItsOwn) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << NO_IPV6_LOOPBACK;
    }
    if (!AllowsDualStack()) {
        GTEST_SKIP() << NO_DUAL_STACK;
    }
    std::uint16_t port = 0;
    auto server = StartOnPort({"--bind", "::", "--max-per-address", "1"}, port);
    ASSERT_NE(server, nullptr);

    LoopbackClient overIpv4(port);
    ASSERT_EQ(overIpv4.ReadGreeting(WAIT_MS), FIRST_ID);
    ASSERT_TRUE(server->WaitForOutput(AdmissionLine("127.0.0.1", FIRST_ID), WAIT_MS));
    // ::1 is another address than 127.0.0.1, so the limit of one lets it in.
    auto overIpv6 = JoinOverIpv6(port, FIRST_ID + 1);
    ASSERT_TRUE(server->WaitForOutput(AdmissionLine("::1", FIRST_ID + 1), WAIT_MS));

    // An IPv4 peer arrives as an IPv4-mapped address and counts as 127.0.0.1.
    LoopbackClient secondIpv4(port);
    ASSERT_TRUE(secondIpv4.Connected());
    EXPECT_TRUE(secondIpv4.ClosedByPeer(WAIT_MS));
    EXPECT_TRUE(server->WaitForOutput(PerAddressRefusal("127.0.0.1"), WAIT_MS));
    LoopbackClient secondIpv6;
    ASSERT_TRUE(secondIpv6.ConnectIpv6(port));
    EXPECT_TRUE(secondIpv6.ClosedByPeer(WAIT_MS));
    EXPECT_TRUE(server->WaitForOutput(PerAddressRefusal("::1"), WAIT_MS));

    // The two families relay to each other.
    ASSERT_TRUE(overIpv4.SendFrame(4, FIRST_ID + 1, "v4 to v6"));
    EXPECT_EQ(overIpv6->ReadFrame(WAIT_MS), (Frame{4, FIRST_ID + 1, "v4 to v6"}));
    ASSERT_TRUE(overIpv6->SendFrame(6, FIRST_ID, "v6 to v4"));
    EXPECT_EQ(overIpv4.ReadFrame(WAIT_MS), (Frame{6, FIRST_ID, "v6 to v4"}));

    server->WriteInput("players\n");
    EXPECT_TRUE(server->WaitForOutput("Player 2: 127.0.0.1, connected for ", WAIT_MS));
    EXPECT_TRUE(server->WaitForOutput("Player 3: ::1, connected for ", WAIT_MS));
}

}  // namespace
