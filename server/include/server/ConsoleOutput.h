#pragma once

#include <cstdio>

// Prints one console text and flushes it, so that a pipe or log sees it at once. The formats are
// checked as C99's, which the Windows build's printf also follows (the archetype's name is chosen
// by the build).
void ConsolePrint(std::FILE* console, const char* format, ...)
    __attribute__((format(VOR_PRINTF_ARCHETYPE, 2, 3)));
