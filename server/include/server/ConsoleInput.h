#pragma once

#include <cstdio>
#include <optional>
#include <string>

// One whole line of the operator's input without its end, however long; none at end of input.
// While the process is in the background of its terminal the read waits, trying again, until
// the operator brings it to the foreground.
std::optional<std::string> ReadConsoleLine(std::FILE* in);
