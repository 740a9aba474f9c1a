#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// One whole line of console input without its end; none at end of input. Of a line longer than
// `keptLength` bytes only its first `keptLength` are kept, the rest is read and dropped. While
// the process is in the background of its terminal the read waits, trying again, until the
// operator brings it to the foreground.
std::optional<std::string> ReadConsoleLine(std::FILE* in, std::size_t keptLength = SIZE_MAX);
