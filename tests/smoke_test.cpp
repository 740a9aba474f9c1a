#include "tests/support/ServerProcess.h"
#include "tests/support/TestClient.h"

#include <gtest/gtest.h>

TEST(Smoke, ClientIsGreetedAndListed) {
    ServerProcess server;
    const std::uint16_t port = server.StartListening(false);
    ASSERT_NE(port, 0);
    TestClient client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadGreeting(), 2);
    EXPECT_TRUE(server.WaitForOutput("New connection from 127.0.0.1, assigned to player ID 2."));
}
