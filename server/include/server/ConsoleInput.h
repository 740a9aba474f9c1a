#pragma once

#include <cstdio>
#include <optional>
#include <string>

// One whole line of the operator's input without its end, however long; none at end of input.
std::optional<std::string> ReadConsoleLine(std::FILE* in);
