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

void ServerStatistics::CountDeparture(PlayerId id, bool fellBehind) {
    players.erase(id);
    if (fellBehind) {
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
    mostPlayers = std::max(mostPlayers, playersNow);
}
