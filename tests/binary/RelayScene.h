#pragma once

#include "testing/LoopbackClient.h"
#include "tests/support/ServerProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Deadline for anything that takes a few server passes. Passes run 100 ms apart; the margin is
// for a loaded machine and the sanitizer builds.
inline constexpr int WAIT_MS = SERVER_WAIT_MS;
// The id the first player gets.
inline constexpr std::uint16_t FIRST_ID = 2;

// A running vor-server with players joined one by one over loopback, and the console transcript
// expected so far.
class RelayScene : public ::testing::Test {
protected:
    // Starts the server; fails the test when it does not report listening.
    void Start(bool display);
    // Connects a client and checks that it is greeted as player `expectedId` and listed. A
    // client that held the id before is dropped.
    LoopbackClient& Join(std::uint16_t expectedId);
    // Starts the server and joins players 2 to count + 1.
    void StartWithPlayers(bool display, int count);
    LoopbackClient& Player(std::uint16_t id);

    // Adds `more` to the expected transcript and checks the whole console against it.
    void ExpectConsole(const std::string& more);
    // The console up to now holds `text`: for checking that something was printed before an
    // event the test has just seen.
    bool ConsoleAlreadyHas(const std::string& text);

    ServerProcess server;
    std::uint16_t port = 0;
    std::string expectedConsole;

private:
    std::map<std::uint16_t, std::unique_ptr<LoopbackClient>> players;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);
// Frames read until each of `wanted` has been among them, or until a read fails.
std::vector<Frame> ReadFramesUntilSeen(LoopbackClient& client, const std::vector<Frame>& wanted);
