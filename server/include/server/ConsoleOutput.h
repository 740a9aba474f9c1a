#pragma once

#include <cstdio>

// Prints one console text and flushes it, so that a pipe or log sees it at once.
void ConsolePrint(std::FILE* console, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
