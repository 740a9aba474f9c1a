#include "server/ConsoleInput.h"

std::optional<std::string> ReadConsoleLine(std::FILE* in) {
    std::string line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        line += static_cast<char>(c);
    }
    if (c == EOF && line.empty()) {
        return std::nullopt;
    }
    return line;
}
