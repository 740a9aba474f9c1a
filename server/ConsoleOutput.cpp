#include "server/ConsoleOutput.h"

#include <cstdarg>

void ConsolePrint(std::FILE* console, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
    std::fflush(console);
}
