#include "tests/support/ServerProcess.h"
#include "tests/support/TestClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A message without a value must not swallow the messages buffered behind it.
TEST(ZeroLengthMessage, LeavesTheFollowingMessagesBuffered) {
    ServerProcess server;
    const std::uint16_t port = server.StartListening(false);
    ASSERT_NE(port, 0);
    TestClient sender(port);
    ASSERT_EQ(sender.ReadGreeting(), 2);
    TestClient receiver(port);
    ASSERT_EQ(receiver.ReadGreeting(), 3);

    std::vector<std::uint8_t> bytes = EncodeTestFrame(5, 3, "");
    const std::string longValue(255, 'x');
    for (int index = 0; index < 3; ++index) {
        const std::vector<std::uint8_t> next = EncodeTestFrame(6, 3, longValue);
        bytes.insert(bytes.end(), next.begin(), next.end());
    }
    ASSERT_TRUE(sender.SendBytes(bytes));

    EXPECT_EQ(receiver.ReadFrame(), (Frame{5, 3, ""}));
    for (int index = 0; index < 3; ++index) {
        EXPECT_EQ(receiver.ReadFrame(), (Frame{6, 3, longValue})) << "frame " << index;
    }
}
