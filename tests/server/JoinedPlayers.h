#pragma once

#include "testing/RelayHarness.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Frames show up readably in failed expectations.
inline void PrintTo(const Frame& frame, std::ostream* out) {
    *out << "{id " << int{frame.id} << ", target " << frame.target << ", \"" << frame.value
         << "\" (" << frame.value.size() << ")}";
}

// An in-process server with players 2 to `LastPlayer` joined before each test, in that order;
// the console starts empty after their admission.
template <PlayerId LastPlayer>
class JoinedPlayers : public testing::Test {
protected:
    explicit JoinedPlayers(bool displayMessages = false) : relay(displayMessages) {}

    void SetUp() override {
        ASSERT_TRUE(relay.Listening());
        for (PlayerId expected = 2; expected <= LastPlayer; ++expected) {
            PlayerId id = 0;
            clients[expected] = relay.Join(id);
            ASSERT_TRUE(clients[expected]);
            ASSERT_EQ(id, expected);
        }
        relay.NewConsole();
    }

    LoopbackClient& Player(PlayerId id) { return *clients[id]; }

    // Sends a marker from `from` to `to` and checks that it is the next frame `to` reads, so
    // that nothing else reached `to` before it.
    void ExpectNothingBeforeMarker(PlayerId from, PlayerId to) {
        ASSERT_TRUE(relay.Deliver(Player(from), from, 42, to, "marker"));
        relay.RunPass();
        EXPECT_EQ(Player(to).ReadFrame(), (Frame{42, to, "marker"})) << "player " << to;
    }

    RelayHarness relay;
    std::unique_ptr<LoopbackClient> clients[LastPlayer + 1];
};
