#pragma once

#include <cstdio>
#include <string>

// Where an operator command's answer goes: the console, each text flushed at once as
// ConsolePrint does, or a text collected for a control connection.
class CommandAnswer {
public:
    explicit CommandAnswer(std::FILE* file) : console(file) {}
    explicit CommandAnswer(std::string& text) : collected(&text) {}

    void Print(const char* format, ...) __attribute__((format(VOR_PRINTF_FORMAT, 2, 3)));
    // True when the answer goes to this console.
    bool IsConsole(const std::FILE* file) const { return console != nullptr && console == file; }

private:
    std::FILE* console = nullptr;
    std::string* collected = nullptr;
};
