#pragma once

#include "tests/server/JoinedPlayers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

inline constexpr auto TEST_TIME_LIMIT = std::chrono::seconds(90);

// A full-length value that starts with its sequence number, so that a reader can tell a
// dropped, repeated or cut frame.
inline std::string NumberedValue(std::uint32_t sequence) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08u", static_cast<unsigned>(sequence % 100000000u));
    return std::string(digits) + std::string(MAX_VALUE_LENGTH - 8, 'f');
}

// Four players on an in-process server, for tests that load one of them.
class RelayBounds : public JoinedPlayers<5> {
protected:
    // Players `a` and `b` still reach each other.
    void ExpectRelayBetween(PlayerId a, PlayerId b, std::uint32_t round) {
        const std::string value = "ping " + std::to_string(round);
        ASSERT_TRUE(relay.Deliver(Player(a), a, 2, b, value));
        ASSERT_TRUE(relay.Deliver(Player(b), b, 3, a, value));
        relay.RunPass();
        ASSERT_EQ(Player(b).ReadFrame(), (Frame{2, b, value}));
        ASSERT_EQ(Player(a).ReadFrame(), (Frame{3, a, value}));
    }
};
