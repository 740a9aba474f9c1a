#pragma once

#include "net/NetSocket.h"
#include "tools/load/ChaosPlayer.h"
#include "tools/load/DeliveryCheck.h"
#include "tools/load/LoadOptions.h"

#include <cstdint>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

// One well-behaved player: it sends on schedule and reads everything, and its frames are checked.
struct LoadPlayer {
    PlayerId id = 0;
    std::unique_ptr<NetSocket> endpoint;
    std::uint32_t nextSequence = 0;
    std::int64_t nextSend = 0;
    // Sends broadcasts at the broadcaster rate instead of directed frames.
    bool broadcaster = false;
    bool connected = true;
};

// Microseconds since some fixed moment.
using LoadClock = std::int64_t (*)();

// The players of one load run and their traffic, moved on by the caller, on the caller's clock,
// so that a test can drive it beside a relay running in the same process.
class LoadSession {
public:
    LoadSession(const LoadOptions& options, std::uint64_t seed, LoadClock clock);

    // A well-behaved player that the server has greeted; the first --broadcasters of them
    // broadcast.
    void AddSteady(PlayerId id, std::unique_ptr<NetSocket> endpoint);
    // A misbehaving player, which starts to join at its next step.
    ChaosPlayer& AddChaos();
    // Moves one misbehaving player on by itself, for joining the players one by one.
    void StepChaos(ChaosPlayer& player);

    // Starts every player's schedule now.
    void Begin();
    // Sends what is due (nothing when not `sending`), lets the misbehaving players act, and
    // takes in what the well-behaved players received.
    void Tick(bool sending);
    // Notes the well-behaved players whose connections have gone.
    void CheckConnections();
    // Every player leaves: the well-behaved ones with the leave message.
    void Leave();

    const DeliveryCheck& Check() const { return check; }
    const ChaosTally& Tally() const { return tally; }
    const std::vector<LoadPlayer>& Steady() const { return steady; }
    std::size_t ChaosCount() const { return chaos.size(); }
    unsigned ConnectionsLost() const { return connectionsLost; }
    std::mt19937_64& Random() { return random; }

private:
    ChaosWorld World(bool sending);
    std::size_t Pick(std::size_t count);
    void Send(LoadPlayer& sender, PlayerId target, std::int64_t now);
    void SendDue(std::int64_t now);
    void ReceiveAll();
    void MarkLost(LoadPlayer& player);

    const LoadOptions& options;
    LoadClock clock;
    std::mt19937_64 random;
    DeliveryCheck check;
    ChaosTally tally;
    std::vector<LoadPlayer> steady;
    std::vector<std::unique_ptr<ChaosPlayer>> chaos;
    // The well-behaved players' ids, then those of the misbehaving players, which are set anew
    // for every step of them.
    std::vector<PlayerId> targets;
    std::vector<PlayerId> stalled;
    std::unordered_map<PlayerId, std::int64_t> unreadBytes;
    std::int64_t directedInterval = 0;
    std::int64_t broadcastInterval = 0;
    std::int64_t broadcasterInterval = 0;
    std::int64_t nextBroadcast = 0;
    unsigned connectionsLost = 0;
};
