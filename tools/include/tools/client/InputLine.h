#pragma once

#include "protocol/Frame.h"

#include <string>
#include <string_view>

// What one line that the user typed asks for.
//   TARGET ID VALUE   send VALUE (the rest of the line, possibly empty, at most 255 bytes) with
//                     message id ID (0-255) to TARGET: a player id (2-65535), "all" (0) or
//                     "server" (1); the fields are separated by one space or more
//   leave             tell the server that this player leaves
//   help              show the syntax
// An empty line asks for nothing.
enum class InputAction { Nothing, Send, Leave, Help, Malformed };

struct InputLine {
    InputAction action = InputAction::Nothing;
    // The frame to send, for Send.
    Frame frame;
    // Why the line is malformed, for Malformed.
    std::string error;
    // What the user should know about a Send that the line asks for, or empty.
    std::string note;
};

InputLine ParseInputLine(std::string_view line);

// The syntax, for the user.
extern const char* const INPUT_SYNTAX;
