#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads the head of one HTTP/1.x request, as it arrives in pieces, up to a bound: the request
// line and the header lines up to the empty line. Lines may end in CRLF or LF alone. Only the
// method and the target are kept; a body is never read.
class HttpRequestReader {
public:
    static constexpr std::size_t HEAD_LIMIT = 8 * 1024;

    enum class State { Incomplete, Complete, Malformed, TooLarge };

    // Takes more bytes of the request; bytes after a complete head are ignored.
    State Add(std::string_view bytes);
    State Current() const { return state; }
    // Set once Complete.
    const std::string& Method() const { return method; }
    const std::string& Target() const { return target; }

private:
    State ReadRequestLine(std::string_view line);

    std::string head;
    std::size_t scanned = 0;
    bool requestLineRead = false;
    State state = State::Incomplete;
    std::string method;
    std::string target;
};
