#include "tools/client/InputLine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Frame SentFrame(const std::string& line) {
    const InputLine parsed = ParseInputLine(line);
    EXPECT_EQ(parsed.action, InputAction::Send) << line << ": " << parsed.error;
    return parsed.frame;
}

void ExpectMalformed(const std::string& line) {
    const InputLine parsed = ParseInputLine(line);
    EXPECT_EQ(parsed.action, InputAction::Malformed) << line;
    EXPECT_FALSE(parsed.error.empty()) << line;
}

}  // namespace

// Target, id and the rest of the line as the value: one space or more between the fields,
// `all` and `server` as targets, values from empty up to 255 bytes.
TEST(InputLine, ReadsTargetIdAndTheRestOfTheLineAsValue) {
    const std::string longest(255, 'v');
    const struct {
        std::string line;
        Frame frame;
    } cases[] = {
        {"4 7 hello there  ", {7, 4, "hello there  "}},
        {"65535 255 x", {255, 65535, "x"}},
        {"  3 0 leading spaces", {0, 3, "leading spaces"}},
        {"3 1 crlf\r", {1, 3, "crlf"}},
        {"4  7   hello  there", {7, 4, "hello  there"}},
        {"all  7", {7, BROADCAST_ID, ""}},
        {"all 7  ", {7, BROADCAST_ID, ""}},
        {"all 7 hi", {7, BROADCAST_ID, "hi"}},
        {"server 7 hi", {7, SERVER_ID, "hi"}},
        {"0 7 hi", {7, BROADCAST_ID, "hi"}},
        {"4 7", {7, 4, ""}},
        {"4 7 ", {7, 4, ""}},
        {"4 7 " + longest, {7, 4, longest}},
    };
    for (const auto& [line, frame] : cases) {
        EXPECT_EQ(SentFrame(line), frame) << line;
    }
}

TEST(InputLine, NotesThatMessageId255Leaves) {
    const InputLine leaving = ParseInputLine("server 255 bye");
    EXPECT_EQ(leaving.action, InputAction::Send);
    EXPECT_NE(leaving.note.find("leave"), std::string::npos) << leaving.note;
    EXPECT_EQ(ParseInputLine("server 254 bye").note, "");
}

TEST(InputLine, RejectsBadTargetsAndIds) {
    ExpectMalformed("4");
    ExpectMalformed("4 ");
    ExpectMalformed("65536 7 hi");
    ExpectMalformed("-1 7 hi");
    ExpectMalformed("everybody 7 hi");
    ExpectMalformed("4 256 hi");
    ExpectMalformed("4 x7 hi");
    ExpectMalformed("99999999999999999999999 7 hi");
    ExpectMalformed("4 7 " + std::string(256, 'v'));
}

TEST(InputLine, KnowsLeaveHelpAndEmptyLines) {
    EXPECT_EQ(ParseInputLine("leave").action, InputAction::Leave);
    EXPECT_EQ(ParseInputLine("help").action, InputAction::Help);
    EXPECT_EQ(ParseInputLine("").action, InputAction::Nothing);
    EXPECT_EQ(ParseInputLine("   ").action, InputAction::Nothing);
    // Only the whole word is a command.
    ExpectMalformed("leave now");
}
