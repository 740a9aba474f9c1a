#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An IPv6 address in network byte order.
using Ipv6Bytes = std::array<std::uint8_t, 16>;

// The longest address text of either family with its NUL, as an endpoint stores it.
inline constexpr std::size_t ADDRESS_TEXT_CAPACITY = 46;

// Reads an IPv6 literal: eight groups of one to four hex digits separated by colons, one run of
// groups shortened to "::", and optionally a dotted IPv4 address in place of the last two
// groups. No brackets, zone or prefix length. False, leaving `bytes` unspecified, on anything
// else.
bool ParseIpv6Text(std::string_view text, Ipv6Bytes& bytes);

// The usual short text of an address (lower-case hex, no leading zeros, the longest run of two
// or more zero groups as "::"). An IPv4-mapped address (::ffff:a.b.c.d), which is how a
// dual-stack listener sees an IPv4 peer, is written as the IPv4 address alone.
std::string Ipv6AddressText(const Ipv6Bytes& bytes);
