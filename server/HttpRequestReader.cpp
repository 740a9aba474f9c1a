#include "server/HttpRequestReader.h"

namespace {

bool IsTokenCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!IsTokenCharacter(c)) {
            return false;
        }
    }
    return true;
}

// Visible characters only: no spaces or control bytes inside a target.
bool IsTarget(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

HttpRequestReader::State HttpRequestReader::Add(std::string_view bytes) {
    if (state != State::Incomplete) {
        return state;
    }
    // Never more than the bound is held; a head that has not ended by then is too large.
    const std::size_t room = HEAD_LIMIT - head.size();
    head.append(bytes.substr(0, room));
    for (std::size_t end = head.find('\n', scanned); end != std::string::npos;
         end = head.find('\n', scanned)) {
        std::string_view line(head.data() + scanned, end - scanned);
        scanned = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!requestLineRead) {
            requestLineRead = true;
            state = ReadRequestLine(line);
        } else if (line.empty()) {
            state = State::Complete;
        } else if (line.find(':') == std::string_view::npos || !IsTokenCharacter(line[0])) {
            state = State::Malformed;
        }
        if (state != State::Incomplete) {
            return state;
        }
    }
    if (head.size() == HEAD_LIMIT) {
        state = State::TooLarge;
    }
    return state;
}

HttpRequestReader::State HttpRequestReader::ReadRequestLine(std::string_view line) {
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace =
        firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos) {
        return State::Malformed;
    }
    const std::string_view methodText = line.substr(0, firstSpace);
    const std::string_view targetText = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string_view version = line.substr(secondSpace + 1);
    if (!IsToken(methodText) || !IsTarget(targetText) ||
        (version != "HTTP/1.0" && version != "HTTP/1.1")) {
        return State::Malformed;
    }
    method = methodText;
    target = targetText;
    return State::Incomplete;
}
