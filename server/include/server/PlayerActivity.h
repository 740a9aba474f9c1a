#pragma once

#include "net/NetSocket.h"
#include "net/ReadinessSet.h"
#include "protocol/Frame.h"
#include "server/PlayerIdSet.h"

#include <cstdint>
#include <vector>

// A player whose socket reported something.
struct ReportedPlayer {
    PlayerId id;
    // Input is all it reported, so its connection stood at the test and it needs no liveness
    // test of its own.
    bool onlyData;
};

// What the passes know about the players from one pass to the next, so that each phase visits
// only the players that have something to do and a quiet player costs a pass nothing.
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
    // Notes whether the player keeps output, after each send to it and each flush.
    void NoteKeptOutput(PlayerId id, const NetSocket& endpoint, bool kept);

    // The set the players' sockets are watched in. The pace of the passes adds its own sources
    // of work under keys below FIRST_PLAYER_ID, which Reported leaves out.
    ReadinessSet& Readiness() { return readiness; }

    // Players with a whole message in their receive buffer.
    PlayerIdSet wholeMessage;
    // Players with output kept because their socket could not take it at once (NoteKeptOutput).
    PlayerIdSet keptOutput;
    // Players a send to has failed; the next liveness test removes them.
    PlayerIdSet failedSend;

private:
    ReadinessSet readiness;
    // Players whose socket the readiness set refused; they are reported every time.
    PlayerIdSet unwatched;
    std::vector<ReadyMember> ready;
    bool watchRoom = false;
};
