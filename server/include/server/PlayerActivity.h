#pragma once

#include "net/NetSocket.h"
#include "net/ReadinessSet.h"
#include "protocol/Frame.h"
#include "server/PlayerIdSet.h"

#include <cstdint>
#include <optional>
#include <vector>

// A player whose socket reported something.
struct ReportedPlayer {
    PlayerId id;
    // Input is all it reported, so its connection stood at the test and it needs no liveness
    // test of its own.
    bool onlyData;
};

// What the passes know about the players from one pass to the next, so that each phase visits
// only the players that have something to do and a quiet player costs a pass nothing. The
// registry owns it and notes into it what its verbs did to a player's endpoint; everyone else
// reads it.
class PlayerActivity {
public:
    // Watches a newly admitted player's socket.
    void Watch(PlayerId id, const NetSocket& endpoint);
    // Forgets a departing player; called before its endpoint closes.
    void Forget(PlayerId id, const NetSocket& endpoint);
    // Replaces `players` with the players whose socket reports input, an end of stream, a reset
    // or an error now, and those whose socket could not be watched, in ascending id order. False
    // when the test failed; then nothing is known and every player needs a visit.
    bool Reported(std::vector<ReportedPlayer>& players);
    // False while a player's socket could not be watched; it is then reported every time.
    bool AllWatched() const { return unwatched.Empty(); }

    // From now on a player's socket is watched also for room to write while it keeps output, so
    // that a wait on the set ends when the output can leave.
    void WatchRoomForKeptOutput() { watchRoom = true; }
    // The set the players' sockets are watched in. The pace of the passes adds its own sources
    // of work under keys below FIRST_PLAYER_ID, which Reported leaves out.
    ReadinessSet& Readiness() { return readiness; }

    // Notes whether a whole message waits in the player's receive buffer.
    void NoteWholeMessage(PlayerId id, bool whole);
    // Notes what a send or a flush left behind: output kept for later, or a failed connection.
    void NoteSendOutcome(PlayerId id, const NetSocket& endpoint);

    // The smallest id from `from` on of a player with a whole message buffered, with output
    // kept, or a send to which has failed (the next liveness test removes it); none if no such.
    std::optional<PlayerId> NextWithWholeMessage(std::uint32_t from) const;
    std::optional<PlayerId> NextWithKeptOutput(std::uint32_t from) const;
    std::optional<PlayerId> NextWithFailedSend(std::uint32_t from) const;
    bool SendFailed(PlayerId id) const { return failedSend.Contains(id); }
    bool AnyKeptOutput() const { return !keptOutput.Empty(); }
    // A player has a whole message left or a failed send to be found: the next pass has work
    // whatever the sockets report.
    bool WorkLeft() const { return !wholeMessage.Empty() || !failedSend.Empty(); }

private:
    void NoteKeptOutput(PlayerId id, const NetSocket& endpoint, bool kept);

    ReadinessSet readiness;
    PlayerIdSet wholeMessage;
    PlayerIdSet keptOutput;
    PlayerIdSet failedSend;
    // Players whose socket the readiness set refused; they are reported every time.
    PlayerIdSet unwatched;
    std::vector<ReadyMember> ready;
    bool watchRoom = false;
};
