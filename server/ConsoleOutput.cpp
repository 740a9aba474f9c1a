#include "server/ConsoleOutput.h"

#include <cstdarg>

void ConsolePrint(std::FILE* console, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
    std::fflush(console);
}

std::string DisplayableText(const char* value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (; *value != '\0'; ++value) {
        const auto byte = static_cast<unsigned char>(*value);
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}
