#include "net/Ipv6Text.h"

#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t GROUPS = 8;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One to four hex digits.
bool ParseGroup(std::string_view text, std::uint16_t& group) {
    if (text.empty() || text.size() > 4) {
        return false;
    }
    unsigned value = 0;
    for (const char c : text) {
        const int digit = HexValue(c);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    group = static_cast<std::uint16_t>(value);
    return true;
}

// Four decimal numbers of 0 to 255 without leading zeros, as two groups.
bool ParseDottedTail(std::string_view text, std::vector<std::uint16_t>& groups) {
    unsigned parts[4] = {};
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const std::string_view number = part < 3 ? text.substr(0, dot) : text;
        if ((part < 3 && dot == std::string_view::npos) || number.empty() || number.size() > 3 ||
            (number.size() > 1 && number[0] == '0')) {
            return false;
        }
        for (const char c : number) {
            if (c < '0' || c > '9') {
                return false;
            }
            parts[part] = parts[part] * 10 + static_cast<unsigned>(c - '0');
        }
        if (parts[part] > 255) {
            return false;
        }
        if (part < 3) {
            text.remove_prefix(dot + 1);
        }
    }
    groups.push_back(static_cast<std::uint16_t>(parts[0] << 8 | parts[1]));
    groups.push_back(static_cast<std::uint16_t>(parts[2] << 8 | parts[3]));
    return true;
}

// The colon-separated groups of one side of "::"; the last may be a dotted IPv4 address when
// `dottedAllowed`.
bool ParseGroups(std::string_view text, bool dottedAllowed, std::vector<std::uint16_t>& groups) {
    if (text.empty()) {
        return true;
    }
    for (;;) {
        const std::size_t colon = text.find(':');
        const std::string_view word = text.substr(0, colon);
        if (colon == std::string_view::npos && dottedAllowed &&
            word.find('.') != std::string_view::npos) {
            return ParseDottedTail(word, groups);
        }
        std::uint16_t group = 0;
        if (!ParseGroup(word, group)) {
            return false;
        }
        groups.push_back(group);
        if (colon == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(colon + 1);
    }
}

bool IsMappedIpv4(const Ipv6Bytes& bytes) {
    for (std::size_t index = 0; index < 10; ++index) {
        if (bytes[index] != 0) {
            return false;
        }
    }
    return bytes[10] == 0xff && bytes[11] == 0xff;
}

}  // namespace

bool ParseIpv6Text(std::string_view text, Ipv6Bytes& bytes) {
    const std::size_t gap = text.find("::");
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    if (gap == std::string_view::npos) {
        if (!ParseGroups(text, true, head) || head.size() != GROUPS) {
            return false;
        }
    } else {
        const std::string_view before = text.substr(0, gap);
        const std::string_view after = text.substr(gap + 2);
        // A second "::", or a colon left over at either edge of the gap, is not an address.
        if (after.find("::") != std::string_view::npos || after.starts_with(':') ||
            !ParseGroups(before, false, head) || !ParseGroups(after, true, tail) ||
            head.size() + tail.size() >= GROUPS) {
            return false;
        }
    }
    std::vector<std::uint16_t> groups = head;
    groups.resize(GROUPS - tail.size(), 0);
    groups.insert(groups.end(), tail.begin(), tail.end());
    for (std::size_t index = 0; index < GROUPS; ++index) {
        bytes[2 * index] = static_cast<std::uint8_t>(groups[index] >> 8);
        bytes[2 * index + 1] = static_cast<std::uint8_t>(groups[index] & 0xff);
    }
    return true;
}

std::string Ipv6AddressText(const Ipv6Bytes& bytes) {
    char text[ADDRESS_TEXT_CAPACITY];
    if (IsMappedIpv4(bytes)) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[12], bytes[13], bytes[14], bytes[15]);
        return std::string(text);
    }
    unsigned groups[GROUPS];
    for (std::size_t index = 0; index < GROUPS; ++index) {
        groups[index] = static_cast<unsigned>(bytes[2 * index] << 8 | bytes[2 * index + 1]);
    }
    // The longest run of zero groups, the first of equal ones; a single zero group stays.
    std::size_t bestStart = GROUPS;
    std::size_t bestLength = 1;
    for (std::size_t start = 0; start < GROUPS;) {
        std::size_t end = start;
        while (end < GROUPS && groups[end] == 0) {
            ++end;
        }
        if (end - start > bestLength) {
            bestStart = start;
            bestLength = end - start;
        }
        start = end == start ? start + 1 : end;
    }
    std::string result;
    for (std::size_t index = 0; index < GROUPS; ++index) {
        if (index == bestStart) {
            result += "::";
            index += bestLength - 1;
            continue;
        }
        if (!result.empty() && !result.ends_with(':')) {
            result += ':';
        }
        std::snprintf(text, sizeof text, "%x", groups[index]);
        result += text;
    }
    return result;
}
