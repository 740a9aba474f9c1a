#pragma once

#include <cstdio>

// Prints one console text and flushes it, so that a pipe or log sees it at once. The formats are
// checked as C99's ("gnu_printf"), which the Windows build's printf also follows.
void ConsolePrint(std::FILE* console, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
