// IPv6 address text read and written by the socket library's own code, which --bind and the
// player lines rest on.

#include "net/Ipv6Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Ipv6Bytes Bytes(std::initializer_list<std::uint16_t> groups) {
    Ipv6Bytes bytes{};
    std::size_t index = 0;
    for (const std::uint16_t group : groups) {
        bytes[index++] = static_cast<std::uint8_t>(group >> 8);
        bytes[index++] = static_cast<std::uint8_t>(group & 0xff);
    }
    return bytes;
}

}  // namespace

TEST(Ipv6Text, ReadsEveryShapeOfLiteral) {
    const std::vector<std::pair<const char*, Ipv6Bytes>> cases = {
        {"::", Bytes({0, 0, 0, 0, 0, 0, 0, 0})},
        {"::1", Bytes({0, 0, 0, 0, 0, 0, 0, 1})},
        {"1::", Bytes({1, 0, 0, 0, 0, 0, 0, 0})},
        {"2001:DB8::a:0", Bytes({0x2001, 0xdb8, 0, 0, 0, 0, 0xa, 0})},
        {"1:2:3:4:5:6:7:8", Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        // "::" standing for a single zero group.
        {"1:2:3::5:6:7:8", Bytes({1, 2, 3, 0, 5, 6, 7, 8})},
        {"ffff:FFFF:0000:0:00:000:1:fFfF", Bytes({0xffff, 0xffff, 0, 0, 0, 0, 1, 0xffff})},
        {"::ffff:192.0.2.1", Bytes({0, 0, 0, 0, 0, 0xffff, 0xc000, 0x0201})},
        {"1:2:3:4:5:6:1.2.3.4", Bytes({1, 2, 3, 4, 5, 6, 0x0102, 0x0304})},
    };
    for (const auto& [text, expected] : cases) {
        Ipv6Bytes bytes{};
        bytes.fill(0xee);
        EXPECT_TRUE(ParseIpv6Text(text, bytes)) << text;
        EXPECT_EQ(bytes, expected) << text;
    }
}

TEST(Ipv6Text, RefusesWhatIsNotALiteral) {
    for (const char* text : {"",
                             ":",
                             ":::",
                             "1:::2",
                             "::1::",
                             "1::2::3",
                             ":1::",
                             "::1:",
                             "1:2",
                             "1:2:3:4:5:6:7",
                             "1:2:3:4:5:6:7:8:9",
                             "1:2:3:4:5:6:7:8::",
                             "::1:2:3:4:5:6:7:8",
                             "12345::",
                             "::g",
                             "::1 ",
                             " ::1",
                             "[::1]",
                             "fe80::1%lo",
                             "::1/128",
                             "127.0.0.1",
                             "1.2.3.4::",
                             "::1.2.3",
                             "::1.2.3.256",
                             "::01.2.3.4",
                             "::1.2.3.4:5",
                             "1:2:3:4:5:6:7:1.2.3.4",
                             "-1::",
                             "::+1"}) {
        Ipv6Bytes bytes{};
        EXPECT_FALSE(ParseIpv6Text(text, bytes)) << "'" << text << "'";
    }
}

TEST(Ipv6Text, WritesTheShortFormAndMappedAddressesAsIpv4) {
    const std::vector<std::pair<Ipv6Bytes, std::string>> cases = {
        {Bytes({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
        {Bytes({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
        {Bytes({1, 0, 0, 0, 0, 0, 0, 0}), "1::"},
        {Bytes({0x2001, 0xdb8, 0, 0, 0, 0, 0, 0xff00}), "2001:db8::ff00"},
        // A lone zero group is written out; of two equal runs the first is shortened.
        {Bytes({1, 0, 2, 3, 4, 5, 6, 7}), "1:0:2:3:4:5:6:7"},
        {Bytes({1, 0, 0, 2, 0, 0, 3, 4}), "1::2:0:0:3:4"},
        {Bytes({1, 0, 0, 2, 0, 0, 0, 3}), "1:0:0:2::3"},
        {Bytes({0xabcd, 0x0ef0, 0x1, 0x10, 0x100, 0x1000, 0xffff, 0}),
         "abcd:ef0:1:10:100:1000:ffff:0"},
        {Bytes({0, 0, 0, 0, 0, 0xffff, 0x7f00, 0x0001}), "127.0.0.1"},
        {Bytes({0, 0, 0, 0, 0, 0xffff, 0xc0a8, 0xff0a}), "192.168.255.10"},
        // Only ::ffff:0:0/96 is IPv4; its neighbours stay IPv6.
        {Bytes({0, 0, 0, 0, 0, 0xfffe, 0x7f00, 0x0001}), "::fffe:7f00:1"},
        {Bytes({0, 0, 0, 0, 1, 0xffff, 0x7f00, 0x0001}), "::1:ffff:7f00:1"},
    };
    for (const auto& [bytes, expected] : cases) {
        const std::string text = Ipv6AddressText(bytes);
        EXPECT_EQ(text, expected);
        EXPECT_LT(text.size(), ADDRESS_TEXT_CAPACITY);
    }
}

TEST(Ipv6Text, TextReadsBackAsTheSameAddress) {
    for (const Ipv6Bytes& bytes :
         {Bytes({0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xfffe, 1}),
          Bytes({0xfe80, 0, 0, 0, 0x21a, 0x2bff, 0xfe3c, 0x4d}), Bytes({0, 0, 0, 0, 0, 0, 1, 0})}) {
        Ipv6Bytes read{};
        ASSERT_TRUE(ParseIpv6Text(Ipv6AddressText(bytes), read)) << Ipv6AddressText(bytes);
        EXPECT_EQ(read, bytes);
    }
}
