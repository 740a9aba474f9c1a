#pragma once

#include <cstdio>

// Prints one console text and flushes it, so that a pipe or log sees it at once. The formats are
// checked as C99's (VOR_PRINTF_FORMAT comes from the build).
void ConsolePrint(std::FILE* console, const char* format, ...)
    __attribute__((format(VOR_PRINTF_FORMAT, 2, 3)));
