#include "tools/client/InputLine.h"

#include "program/DecimalNumber.h"

#include <cstdint>

const char* const INPUT_SYNTAX =
    "  TARGET ID VALUE  send VALUE (the rest of the line, up to 255 bytes) with message id ID\n"
    "                   (0-255) to TARGET: a player id, 'all' (every other player and the\n"
    "                   server) or 'server'. Example: 4 7 hello\n"
    "  leave            leave the server and end\n"
    "  help             show this\n";

namespace {

InputLine Malformed(std::string error) {
    InputLine result;
    result.action = InputAction::Malformed;
    result.error = std::move(error);
    return result;
}

bool ParseTarget(std::string_view word, PlayerId& target) {
    if (word == "all") {
        target = BROADCAST_ID;
        return true;
    }
    if (word == "server") {
        target = SERVER_ID;
        return true;
    }
    std::uint64_t value = 0;
    if (!ParseDecimal(word, LAST_PLAYER_ID, value)) {
        return false;
    }
    target = static_cast<PlayerId>(value);
    return true;
}

// The text up to the next space, which is taken from `rest` with the spaces after it.
std::string_view TakeWord(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    const std::size_t next = rest.find_first_not_of(' ', word.size());
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
    return word;
}

}  // namespace

InputLine ParseInputLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.find_first_not_of(' ') == std::string_view::npos) {
        return InputLine{};
    }
    line.remove_prefix(line.find_first_not_of(' '));
    if (line == "leave" || line == "help") {
        InputLine result;
        result.action = line == "leave" ? InputAction::Leave : InputAction::Help;
        return result;
    }

    std::string_view rest = line;
    const std::string_view targetWord = TakeWord(rest);
    Frame frame;
    if (!ParseTarget(targetWord, frame.target)) {
        return Malformed("the target '" + std::string(targetWord) +
                         "' is not a player id (0-65535), 'all' or 'server'");
    }
    if (rest.empty()) {
        return Malformed("a message id (0-255) must follow the target");
    }
    const std::string_view idWord = TakeWord(rest);
    std::uint64_t id = 0;
    if (!ParseDecimal(idWord, 255, id)) {
        return Malformed("the message id '" + std::string(idWord) +
                         "' is not a number from 0 to 255");
    }
    if (rest.size() > MAX_VALUE_LENGTH) {
        return Malformed("the value has " + std::to_string(rest.size()) +
                         " bytes; at most 255 fit in a message");
    }
    frame.id = static_cast<std::uint8_t>(id);
    frame.value = std::string(rest);
    InputLine result;
    result.action = InputAction::Send;
    if (frame.id == MSG_LEAVE) {
        result.note = "message id 255 is the leave message: the server removes this player";
    }
    result.frame = std::move(frame);
    return result;
}
