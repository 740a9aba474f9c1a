#pragma once

#include "server/SteadyClock.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

// Why a connection was refused.
enum class Refusal { Full, TooManyFromAddress, NoFreeId };
// Why a player was removed: it sent the leave message, its connection ended without one, it fell
// behind (too much output kept for it) or the operator kicked it.
enum class Departure { Left, Gone, FellBehind, Kicked };

// Upper bounds of the pass duration histogram's buckets, in microseconds; a last bucket takes
// the rest.
inline constexpr std::uint64_t PASS_BUCKET_BOUNDS_US[] = {
    100, 250, 500, 1000, 2500, 5000, 10000, 25000, 50000, 100000, 250000, 500000, 1000000};
inline constexpr std::size_t PASS_BUCKETS = std::size(PASS_BUCKET_BOUNDS_US) + 1;

// Counts since the start, for the operator's console and the metrics; what is known about each
// player is in the registry.
struct ServerStatistics {
    SteadyClock::time_point startedAt = SteadyClock::now();
    std::uint64_t passes = 0;
    SteadyClock::duration slowestPass{0};
    SteadyClock::duration lastPass{0};
    SteadyClock::duration allPasses{0};
    // Passes per duration bucket, each counted in its own bucket only.
    std::uint64_t passesByDuration[PASS_BUCKETS] = {};
    std::size_t mostPlayers = 0;
    std::uint64_t admitted = 0;
    std::uint64_t refused = 0;
    std::uint64_t refusedBy[3] = {};
    std::uint64_t removedForFallingBehind = 0;
    std::uint64_t removedBy[4] = {};
    std::uint64_t messagesIn = 0;
    // Frames written or kept for players, one per recipient of a broadcast.
    std::uint64_t messagesRelayed = 0;
    std::uint64_t bytesRelayed = 0;

    void CountAdmission();
    void CountRefusal(Refusal cause);
    void CountDeparture(Departure cause);
    void CountMessageIn();
    void CountRelayed(std::size_t bytes);
    void CountPass(SteadyClock::duration took, std::size_t playersNow);
};
