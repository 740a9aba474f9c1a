#pragma once

#include "protocol/Frame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

using SteadyClock = std::chrono::steady_clock;

// What the operator's console tells about one player.
struct PlayerRecord {
    std::string address;
    SteadyClock::time_point admittedAt;
    std::uint64_t messagesIn = 0;
    // Relayed messages sent to it; the greeting is not counted.
    std::uint64_t messagesOut = 0;
};

// Counts since the start, for the operator's console, and the players' records, which
// admission also reads to count the players of one address.
struct ServerStatistics {
    SteadyClock::time_point startedAt = SteadyClock::now();
    std::uint64_t passes = 0;
    SteadyClock::duration slowestPass{0};
    std::size_t mostPlayers = 0;
    std::uint64_t admitted = 0;
    std::uint64_t refused = 0;
    std::uint64_t removedForFallingBehind = 0;
    std::uint64_t messagesIn = 0;
    // Frames written or kept for players, one per recipient of a broadcast.
    std::uint64_t messagesRelayed = 0;
    std::uint64_t bytesRelayed = 0;
    std::map<PlayerId, PlayerRecord> players;

    void CountAdmission(PlayerId id, std::string address);
    void CountDeparture(PlayerId id, bool fellBehind);
    void CountMessageIn(PlayerId from);
    void CountRelayed(PlayerId to, std::size_t bytes);
    void CountPass(SteadyClock::duration took, std::size_t playersNow);
};
