#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

struct OperatorAnswers {
    // The port as typed; the socket uses its low 16 bits.
    std::uint32_t portNumber = 0;
    bool displayMessages = false;
};

// Prints the banner and asks for the port and the display choice. A port reply that is not an
// unsigned decimal number is asked again; none when the input ends before a port is given.
std::optional<OperatorAnswers> AskOperator(std::FILE* in, std::FILE* out);

// Waits for the operator to press Enter (or for the input to end).
void PauseForOperator(std::FILE* in, std::FILE* out);
