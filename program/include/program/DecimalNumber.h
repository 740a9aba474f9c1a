#pragma once

#include <cstdint>
#include <string_view>

// Reads `text` as an unsigned decimal number of at most `largest`: only digits, at least one.
bool ParseDecimal(std::string_view text, std::uint64_t largest, std::uint64_t& value);
