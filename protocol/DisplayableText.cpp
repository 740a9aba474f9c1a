#include "protocol/DisplayableText.h"

#include <cstdint>

namespace {

// The length of the well-formed UTF-8 sequence at the front of `bytes` (its lead byte 0x80 or
// above), or 0 when there is none or it encodes a C1 control (U+0080 to U+009F), which a
// terminal may take as a command. Overlong forms, surrogates and values past U+10FFFF are not
// well-formed.
std::size_t ReadableSequence(std::string_view bytes) {
    const auto byteAt = [&bytes](std::size_t index) {
        return static_cast<unsigned char>(bytes[index]);
    };
    static constexpr std::uint32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    const unsigned char lead = byteAt(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t index = 1; index < length; ++index) {
        if ((byteAt(index) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byteAt(index) & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1Control = code <= 0x9F;
    if (code < SMALLEST[length] || code > 0x10FFFF || surrogate || c1Control) {
        return 0;
    }
    return length;
}

}  // namespace

std::string DisplayableText(const char* value) {
    return DisplayableText(std::string_view(value));
}

std::string DisplayableText(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            text += bytes[at];
            ++at;
            continue;
        }
        const std::size_t length = byte >= 0x80 ? ReadableSequence(bytes.substr(at)) : 0;
        if (length > 0) {
            text.append(bytes.substr(at, length));
            at += length;
            continue;
        }
        text += "\\x";
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
        ++at;
    }
    return text;
}
