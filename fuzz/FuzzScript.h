#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The players a script can drive at once.
inline constexpr std::size_t SCRIPT_SLOTS = 8;

enum class EventKind { Connect, WriteBytes, HalfClose, Reset, ToggleReading, Pass };

struct ScriptEvent {
    EventKind kind = EventKind::Pass;
    std::size_t slot = 0;
    std::vector<std::uint8_t> bytes;
    int passes = 1;
    // A client with a small receive window and small segments, whose server end fills up after a
    // few dozen kilobytes, so that the server keeps output for it once it stops reading.
    bool narrow = false;
};

struct FuzzScript {
    bool displayMessages = false;
    bool fairTurns = false;
    // Rounds of turns per pass.
    unsigned messagesPerPass = 1;
    std::vector<ScriptEvent> events;
};

// The first byte chooses the display (bit 0), fair turns (bit 1) and the rounds per pass (bits 2
// and 3: 1, 2, 3 or 64); then each event starts with a
// byte whose low three bits are the kind, the next three the slot and the top two a parameter:
//   0 connect (a narrow client when the parameter is odd), 1 raw bytes (length byte, bytes),
//   2 one frame (id, target choice, length, value bytes, the value padded when the input ends)
//   written 1, 4, 16 or 64 times by the parameter, 3 half-close, 4 reset, 5 stop or resume
//   reading, 6 one pass, 7 two to eight passes.
FuzzScript DecodeScript(const std::uint8_t* data, std::size_t size);
