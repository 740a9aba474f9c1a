#include "protocol/DisplayableText.h"

std::string DisplayableText(const char* value) {
    return DisplayableText(std::string_view(value));
}

std::string DisplayableText(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    for (const char character : bytes) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        } else {
            text += character;
        }
    }
    return text;
}
