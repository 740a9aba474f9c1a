// The vor-client binary before it joins: the host it is given and a server that closes at once.

#include "tests/net/NetTestSupport.h"
#include "tools/load/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ClientRun {
    bool ended = false;
    int status = -1;
    std::string output;
};

// Waits for a started client to end and takes everything it wrote.
ClientRun AwaitEnd(ChildProcess& client) {
    ClientRun run;
    run.ended = WaitFor([&] {
        client.ReadOutput(run.output);
        return client.Ended(run.status);
    });
    client.ReadOutput(run.output);
    return run;
}

ClientRun RunClient(const std::vector<std::string>& arguments) {
    ChildProcess client;
    if (!client.Start(VOR_CLIENT_PATH, arguments)) {
        return ClientRun{};
    }
    return AwaitEnd(client);
}

bool Holds(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(ClientHost, AMalformedIpv6AddressIsRefusedBeforeConnecting) {
    for (const char* host : {"::1::2", "fe80:::1"}) {
        const ClientRun run = RunClient({host, "4711"});
        ASSERT_TRUE(run.ended) << host;
        EXPECT_EQ(run.status, 1) << host;
        EXPECT_TRUE(Holds(run.output, "is not an IPv6 address")) << run.output;
        EXPECT_FALSE(Holds(run.output, "Connecting")) << run.output;
    }
}

TEST(ClientHost, ALocalNameIsLookedUpAndUsed) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, "127.0.0.1"), 0);
    ChildProcess client;
    ASSERT_TRUE(client.Start(VOR_CLIENT_PATH, {"localhost", std::to_string(listener.LocalPort())}));
    // Accepted on the listener: the name led to this loopback server. It closes at once.
    std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    accepted->Close();
    const ClientRun run = AwaitEnd(client);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(Holds(run.output, "Connecting to localhost (127.0.0.1)")) << run.output;
}

TEST(ClientHost, AServerThatClosesBeforeTheGreetingIsExplainedWithEveryReason) {
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, "127.0.0.1"), 0);
    ChildProcess client;
    ASSERT_TRUE(client.Start(VOR_CLIENT_PATH, {"127.0.0.1", std::to_string(listener.LocalPort())}));
    std::unique_ptr<NetSocket> accepted = AcceptOne(listener);
    ASSERT_NE(accepted, nullptr);
    accepted->Close();
    const ClientRun run = AwaitEnd(client);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Holds(run.output, "closed the connection before the greeting")) << run.output;
    for (const char* reason : {"full", "too many players from this address", "every player id"}) {
        EXPECT_TRUE(Holds(run.output, reason)) << reason << " is not named: " << run.output;
    }
}

// A lookup that fails goes out to the network, so this runs only in the private namespace.
TEST(ClientHostNamespace, ANameThatCannotBeFoundIsReportedBeforeConnecting) {
    const char* inside = std::getenv("VOR_PRIVATE_NETNS");
    if (inside == nullptr || std::strcmp(inside, "1") != 0) {
        GTEST_SKIP() << "needs the private network namespace of run_in_netns.sh";
    }
    const ClientRun run = RunClient({"no-such-host.invalid", "4711"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Holds(run.output, "the host no-such-host.invalid cannot be found")) << run.output;
    EXPECT_FALSE(Holds(run.output, "Connecting")) << run.output;
}
