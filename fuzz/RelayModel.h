#pragma once

#include "fuzz/FuzzScript.h"
#include "protocol/Frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

// A frame a client is to read. The second greeting carries the server clock, which the model
// cannot know: any signed decimal number matches it.
struct ExpectedFrame {
    std::uint8_t id = 0;
    std::uint16_t target = 0;
    std::vector<std::uint8_t> value;
    bool anyNumber = false;
};

enum class SlotPhase { Free, Queued, Player, Removed };

// One client connection as the server's side of it sees it, once every byte and every close
// the client made has reached the server's socket.
struct ModelSlot {
    SlotPhase phase = SlotPhase::Free;
    PlayerId id = 0;
    // Every byte the client wrote; the server has taken `pulled` of them into the player's
    // buffer and handled `consumed`.
    std::vector<std::uint8_t> written;
    std::size_t pulled = 0;
    std::size_t consumed = 0;
    bool finished = false;
    bool reset = false;
    bool sendFailed = false;
    std::vector<ExpectedFrame> expected;
    // The bytes of the expected frames, but for the digits of the clock, which only the server
    // knows.
    std::size_t owed = 0;
};

// What the relay does with the connections, written from the rules of the protocol rather than
// from the server's code, so that the two can be compared after every pass.
class RelayModel {
public:
    RelayModel(bool display, bool fair, unsigned rounds)
        : displayMessages(display), fairTurns(fair), messagesPerPass(rounds) {}

    void Connect(std::size_t slot);
    void Write(std::size_t slot, const std::vector<std::uint8_t>& bytes);
    void HalfClose(std::size_t slot) { slots[slot].finished = true; }
    void Reset(std::size_t slot) { slots[slot].reset = true; }
    // A slot whose player has left is free again once the harness has looked at its client.
    void Release(std::size_t slot) { slots[slot] = ModelSlot{}; }

    void Pass();

    const ModelSlot& Slot(std::size_t slot) const { return slots[slot]; }
    // Bytes that have reached the server's socket and wait there.
    std::size_t WaitingInSocket(std::size_t slot) const {
        return slots[slot].written.size() - slots[slot].pulled;
    }
    std::size_t Buffered(std::size_t slot) const {
        return slots[slot].pulled - slots[slot].consumed;
    }
    const std::map<PlayerId, std::size_t>& Players() const { return players; }
    // The console text since the last call.
    std::string TakeConsole();

private:
    void Admit();
    void Sweep();
    void Dispatch();
    // What a turn came to: no message, a message, or one that ends a pass of one round.
    enum class Turn { None, Taken, EndsPass };
    // One player's turn in the dispatch. The first round tests the connection and takes in what
    // reached the socket; later rounds take only what is buffered, and test only a player a
    // send to has failed.
    Turn TakeTurn(std::map<PlayerId, std::size_t>::iterator player, bool firstRound);
    // A player has a whole frame buffered, or a send to it has failed.
    bool AnyTurnLeft() const;
    bool Connected(const ModelSlot& slot) const;
    void Pull(ModelSlot& slot);
    void Deliver(std::size_t slot, const ExpectedFrame& frame);
    std::map<PlayerId, std::size_t>::iterator Remove(
        std::map<PlayerId, std::size_t>::iterator player);
    void Show(std::uint8_t id, PlayerId sender, const std::vector<std::uint8_t>& value);

    bool displayMessages;
    // Fair turns start each dispatch after the player whose message ended the last one.
    bool fairTurns;
    // With more than one round no message ends a pass, and fair rounds start after the player
    // whose message was taken last.
    unsigned messagesPerPass;
    PlayerId lastPassEnder = 0;
    std::array<ModelSlot, SCRIPT_SLOTS> slots;
    std::deque<std::size_t> acceptQueue;
    std::map<PlayerId, std::size_t> players;
    std::string console;
};
