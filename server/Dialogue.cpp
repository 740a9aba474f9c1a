#include "server/Dialogue.h"

#include "program/ConsoleInput.h"
#include "program/DecimalNumber.h"
#include "server/ConsoleOutput.h"

#include <string>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::size_t SkipBlanks(const std::string& text, std::size_t position) {
    while (position < text.size() && IsBlank(text[position])) {
        ++position;
    }
    return position;
}

// Reads a decimal number from 0 to 4294967295 at the start of the reply; what follows it (from
// its first non-blank character) may already be the next answer.
std::optional<std::uint32_t> ParsePort(const std::string& reply, std::string& rest) {
    const std::size_t start = SkipBlanks(reply, 0);
    std::size_t end = start;
    while (end < reply.size() && !IsBlank(reply[end])) {
        ++end;
    }
    std::uint64_t value = 0;
    if (!ParseDecimal(std::string_view(reply).substr(start, end - start), UINT32_MAX, value)) {
        return std::nullopt;
    }
    rest = reply.substr(SkipBlanks(reply, end));
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> AskPort(std::FILE* in, std::FILE* out, std::string& rest) {
    for (;;) {
        ConsolePrint(out, "On which port should this program listen?\n");
        const std::optional<std::string> reply = ReadConsoleLine(in);
        if (!reply) {
            return std::nullopt;
        }
        if (const std::optional<std::uint32_t> port = ParsePort(*reply, rest)) {
            return port;
        }
    }
}

// The first non-blank character typed after the port number; the end of input means no.
bool AskDisplay(std::FILE* in, std::FILE* out, const std::string& restOfPortLine) {
    ConsolePrint(out, "Display received messages? (y/n)\n");
    std::optional<std::string> reply = restOfPortLine;
    for (;;) {
        const std::size_t first = SkipBlanks(*reply, 0);
        if (first < reply->size()) {
            return (*reply)[first] == 'y' || (*reply)[first] == 'Y';
        }
        reply = ReadConsoleLine(in);
        if (!reply) {
            return false;
        }
    }
}

}  // namespace

void PrintBanner(std::FILE* out) {
    ConsolePrint(out,
                 "   /////////////////////////////\n"
                 "   // VOR SERVER PROGRAM v1.0 //\n"
                 "   /////////////////////////////\n\n");
}

std::optional<OperatorAnswers> AskOperator(std::FILE* in, std::FILE* out) {
    PrintBanner(out);
    std::string rest;
    const std::optional<std::uint32_t> port = AskPort(in, out, rest);
    if (!port) {
        return std::nullopt;
    }
    OperatorAnswers answers;
    answers.portNumber = *port;
    answers.displayMessages = AskDisplay(in, out, rest);
    return answers;
}

void PauseForOperator(std::FILE* in, std::FILE* out) {
    ConsolePrint(out, "Press Enter to continue . . .");
    ReadConsoleLine(in);
    ConsolePrint(out, "\n");
}
