// The text the operator's console shows for a player's bytes.

#include "protocol/DisplayableText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(DisplayableText, WellFormedUtf8IsShownAsItIs) {
    // Two, three and four bytes, at the smallest and largest value of each length.
    for (const std::string& text :
         {"caf\xc3\xa9"s, "\xc2\xa0"s, "\xdf\xbf"s, "\xe0\xa0\x80"s, "\xe2\x82\xac 5"s,
          "\xef\xbf\xbf"s, "\xf0\x90\x80\x80"s, "\xf0\x9f\x98\x80"s, "\xf4\x8f\xbf\xbf"s}) {
        EXPECT_EQ(DisplayableText(std::string_view(text)), text);
    }
}

TEST(DisplayableText, BytesOutsideWellFormedUtf8AreEscapedOneByOne) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"\x80"s, "\\x80"},                             // a continuation byte alone
        {"a\xe9z"s, "a\\xe9z"},                         // Latin-1, not UTF-8
        {"\xe2\x82"s, "\\xe2\\x82"},                    // cut short at the end
        {"\xe2\x82z"s, "\\xe2\\x82z"},                  // cut short by a plain character
        {"\xc0\xaf"s, "\\xc0\\xaf"},                    // overlong "/"
        {"\xe0\x80\xaf"s, "\\xe0\\x80\\xaf"},           // overlong in three bytes
        {"\xf0\x80\x80\xaf"s, "\\xf0\\x80\\x80\\xaf"},  // overlong in four bytes
        {"\xed\xa0\x80"s, "\\xed\\xa0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80"s, "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
        {"\xf8\x88\x80\x80\x80"s, "\\xf8\\x88\\x80\\x80\\x80"},
        {"\xff\xfe"s, "\\xff\\xfe"},
        // C1 controls are well-formed but can drive a terminal (U+009B starts a command).
        {"\xc2\x9b"
         "2J"s,
         "\\xc2\\x9b"
         "2J"},
        {"\xc2\x80\xc2\x9f\xc2\xa0"s, "\\xc2\\x80\\xc2\\x9f\xc2\xa0"},
        // A bad byte in front of a good sequence spoils only itself.
        {"\xa9\xc3\xa9"s, "\\xa9\xc3\xa9"},
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(DisplayableText(std::string_view(bytes)), shown) << shown;
    }
}

TEST(DisplayableText, ControlBytesAreEscapedAndTheValueEndsAtItsFirstNul) {
    EXPECT_EQ(DisplayableText(std::string_view("\x01\x1f \x7f~\0x"s)), "\\x01\\x1f \\x7f~\\x00x");
    EXPECT_EQ(DisplayableText("\x1b[2J\xc3\xa9\0hidden"), "\\x1b[2J\xc3\xa9");
}

}  // namespace
