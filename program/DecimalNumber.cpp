#include "program/DecimalNumber.h"

bool ParseDecimal(std::string_view text, std::uint64_t largest, std::uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    std::uint64_t result = 0;
    for (const char character : text) {
        if (character < '0' || character > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(character - '0');
        if (result > (largest - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    value = result;
    return true;
}
