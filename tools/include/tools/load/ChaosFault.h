#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// What a misbehaving player does to the server, one at a time, between spells of sending
// ordinary frames.
enum class ChaosFault : std::uint8_t {
    // Writes part of a frame, then resets the connection.
    ResetMidFrame,
    // Closes the connection in order (FIN).
    CloseInOrder,
    // Shuts down only its sending side and reads on until the server ends the connection.
    ShutdownSending,
    // Stops reading for a few seconds, then reads on.
    PauseReading,
    // Stops reading for good, so that the server drops it once its output passes the bound; it
    // resets the connection itself when that has not happened within 30 s.
    StopReading,
    // Writes frames for a few seconds as fast as the socket takes them, then resets or closes.
    Flood,
    // Writes a few frames one byte at a time.
    ByteAtATime,
    // Writes a few frames in pieces split at random points.
    SplitFrames,
    // Sends a few frames to ids nobody holds.
    UnknownTarget,
    // Sends the leave message and reads on until the server ends the connection. Stays last:
    // the count of kinds follows it.
    LeaveMessage,
};

inline constexpr std::size_t CHAOS_FAULT_KINDS =
    static_cast<std::size_t>(ChaosFault::LeaveMessage) + 1;

const char* ChaosFaultName(ChaosFault fault);
std::vector<ChaosFault> AllChaosFaults();

// What the misbehaving players did and what the server did to them, as they saw it.
struct ChaosTally {
    std::array<std::uint64_t, CHAOS_FAULT_KINDS> faults{};
    // Admissions after the first one of each misbehaving player.
    std::uint64_t reconnections = 0;
    // Connections that ended after their player had been greeted, by either side.
    std::uint64_t departures = 0;
    // Connections the server ended after the leave message, after a half-close, and past the
    // output bound of a player that stopped reading.
    std::uint64_t endedAfterLeave = 0;
    std::uint64_t endedAfterHalfClose = 0;
    std::uint64_t droppedStoppedReaders = 0;
    // Readers that stopped for good and gave up waiting to be dropped.
    std::uint64_t stalledNotDropped = 0;
    // Connections the server ended while more than its output bound of frames sent to the
    // player's id were unread: floods relayed faster than the player reads.
    std::uint64_t droppedBehindFloods = 0;
    // Connections the server ended although their player did nothing that ends one.
    std::uint64_t endedUnprovoked = 0;
    // Connections still open long after their player left or half-closed.
    std::uint64_t keptAfterLeaving = 0;
    // Greetings that were not two welcome frames naming the player.
    std::uint64_t badGreetings = 0;
    std::uint64_t framesSent = 0;

    std::uint64_t FaultsInjected() const;
    std::uint64_t EndedByServer() const {
        return endedAfterLeave + endedAfterHalfClose + droppedStoppedReaders + droppedBehindFloods +
               endedUnprovoked;
    }
    // True when the server did nothing the misbehaving players can blame it for.
    bool Clean() const {
        return endedUnprovoked == 0 && keptAfterLeaving == 0 && badGreetings == 0;
    }
};
