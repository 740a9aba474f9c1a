#include "server/ServerStatistics.h"

#include <algorithm>
#include <utility>

void ServerStatistics::CountAdmission(PlayerId id, std::string address) {
    ++admitted;
    PlayerRecord& record = players[id];
    record = PlayerRecord{};
    record.address = std::move(address);
    record.admittedAt = SteadyClock::now();
}

void ServerStatistics::CountRefusal(Refusal cause) {
    ++refused;
    ++refusedBy[static_cast<std::size_t>(cause)];
}

void ServerStatistics::CountDeparture(PlayerId id, Departure cause) {
    players.erase(id);
    ++removedBy[static_cast<std::size_t>(cause)];
    if (cause == Departure::FellBehind) {
        ++removedForFallingBehind;
    }
}

void ServerStatistics::CountMessageIn(PlayerId from) {
    ++messagesIn;
    const auto record = players.find(from);
    if (record != players.end()) {
        ++record->second.messagesIn;
    }
}

void ServerStatistics::CountRelayed(PlayerId to, std::size_t bytes) {
    ++messagesRelayed;
    bytesRelayed += bytes;
    const auto record = players.find(to);
    if (record != players.end()) {
        ++record->second.messagesOut;
    }
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
