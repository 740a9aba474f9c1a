#pragma once

#include "protocol/FrameSocket.h"
#include "tools/load/ChaosFault.h"
#include "tools/load/DeliveryCheck.h"
#include "tools/load/RawConnection.h"

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

// What every misbehaving player shares during one step of the run.
struct ChaosWorld {
    std::uint16_t port = 0;
    std::mt19937_64& random;
    DeliveryCheck& check;
    ChaosTally& tally;
    // The players a frame may be sent to: the well-behaved ones and the misbehaving ones now in.
    const std::vector<PlayerId>& targets;
    // Misbehaving players that have stopped reading for good; floods go to them.
    const std::vector<PlayerId>& stalled;
    // Microseconds between two ordinary frames of one player; above 0.
    std::int64_t directedInterval = 0;
    // The faults to pick from; not empty.
    const std::vector<ChaosFault>& faults;
    // False while the run drains: nobody sends, connects or starts a fault, readers read on.
    bool sending = true;
    // By player id: the bytes of the frames misbehaving players queued for that id less those
    // that the id's holders read. A server that relays floods fast can owe a reader more than
    // its output bound, and then drops it.
    std::unordered_map<PlayerId, std::int64_t>* unreadBytes = nullptr;
};

// One player that misbehaves on purpose: it joins, sends ordinary frames for a while, then picks
// a fault at random, and joins again with a new id after any fault that ends its connection.
// Everything it reads must be whole frames addressed to it or to everybody.
class ChaosPlayer {
public:
    void Step(std::int64_t now, ChaosWorld& world);
    // Sends one broadcast now if it is in and sending ordinary frames.
    void Broadcast(std::int64_t now, ChaosWorld& world);

    bool Joined() const { return phase != Phase::Away && phase != Phase::Joining; }
    // The id it holds now; 0 while it is not in.
    PlayerId Id() const { return Joined() ? id : 0; }
    bool StoppedForGood() const { return Joined() && fault == ChaosFault::StopReading; }
    void Close() { connection.Close(); }

private:
    enum class Phase { Away, Joining, Behaving, Faulting, AwaitingEnd };
    enum class WriteMode { Whole, ByteAtATime, Split };

    void StartJoining(ChaosWorld& world);
    void Join(std::int64_t now, ChaosWorld& world);
    // Starts a fault picked at random, or `next`.
    void StartFault(std::int64_t now, ChaosWorld& world);
    void StartFault(ChaosFault next, std::int64_t now, ChaosWorld& world);
    void ContinueFault(std::int64_t now, ChaosWorld& world);
    // Ends the connection from this side, with a reset or in order, and comes back after a
    // short pause.
    void GoAway(std::int64_t now, ChaosWorld& world, bool reset);
    // Whether the frames queued for this player's id and not read pass the server's output
    // bound.
    bool OwedPastOutputBound(const ChaosWorld& world) const;
    // Counts how the server ended the connection and comes back after a short pause.
    void EndedByServer(std::int64_t now, ChaosWorld& world);

    // Reads what is there and checks each whole frame; false when the connection has ended.
    bool ReadFrames(ChaosWorld& world);
    // Writes queued bytes as the write mode says; false when the connection has failed.
    bool WriteQueued(ChaosWorld& world);
    void QueueFrame(PlayerId target, std::int64_t now, ChaosWorld& world);
    void QueueDueFrames(std::int64_t now, ChaosWorld& world);
    PlayerId PickTarget(ChaosWorld& world) const;
    std::int64_t Between(std::int64_t lowest, std::int64_t highest, ChaosWorld& world) const;

    Phase phase = Phase::Away;
    ChaosFault fault = ChaosFault::CloseInOrder;
    WriteMode mode = WriteMode::Whole;
    RawConnection connection;
    PlayerId id = 0;
    bool joinedBefore = false;
    bool reading = true;
    std::uint32_t nextSequence = 0;
    std::int64_t phaseEnd = 0;
    std::int64_t nextFrame = 0;
    std::string incoming;
    std::string outgoing;
    int greetingsRead = 0;
};
