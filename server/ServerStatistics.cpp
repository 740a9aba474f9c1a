#include "server/ServerStatistics.h"

#include <algorithm>

void ServerStatistics::CountAdmission() {
    ++admitted;
}

void ServerStatistics::CountRefusal(Refusal cause) {
    ++refused;
    ++refusedBy[static_cast<std::size_t>(cause)];
}

void ServerStatistics::CountDeparture(Departure cause) {
    ++removedBy[static_cast<std::size_t>(cause)];
    if (cause == Departure::FellBehind) {
        ++removedForFallingBehind;
    }
}

void ServerStatistics::CountMessageIn() {
    ++messagesIn;
}

void ServerStatistics::CountRelayed(std::size_t bytes) {
    ++messagesRelayed;
    bytesRelayed += bytes;
}

void ServerStatistics::CountPass(SteadyClock::duration took, std::size_t playersNow) {
    ++passes;
    slowestPass = std::max(slowestPass, took);
    lastPass = took;
    allPasses += took;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    std::size_t bucket = 0;
    while (bucket < std::size(PASS_BUCKET_BOUNDS_US) &&
           static_cast<std::uint64_t>(micros) > PASS_BUCKET_BOUNDS_US[bucket]) {
        ++bucket;
    }
    ++passesByDuration[bucket];
    mostPlayers = std::max(mostPlayers, playersNow);
}
