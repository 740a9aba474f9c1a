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

TEST(InputLine, ReadsTargetIdAndTheRestOfTheLineAsValue) {
    const Frame frame = SentFrame("4 7 hello there  ");
    EXPECT_EQ(frame.target, 4);
    EXPECT_EQ(frame.id, 7);
    EXPECT_EQ(frame.value, "hello there  ");

    EXPECT_EQ(SentFrame("65535 255 x").target, 65535);
    EXPECT_EQ(SentFrame("65535 255 x").id, 255);
    EXPECT_EQ(SentFrame("  3 0 leading spaces").target, 3);
    EXPECT_EQ(SentFrame("3 1 crlf\r").value, "crlf");
}

TEST(InputLine, TakesOneSpaceOrMoreBetweenFields) {
    const Frame frame = SentFrame("4  7   hello  there");
    EXPECT_EQ(frame.target, 4);
    EXPECT_EQ(frame.id, 7);
    EXPECT_EQ(frame.value, "hello  there");
    EXPECT_EQ(SentFrame("all  7").value, "");
    EXPECT_EQ(SentFrame("all 7  ").value, "");
}

TEST(InputLine, NotesThatMessageId255Leaves) {
    const InputLine leaving = ParseInputLine("server 255 bye");
    EXPECT_EQ(leaving.action, InputAction::Send);
    EXPECT_NE(leaving.note.find("leave"), std::string::npos) << leaving.note;
    EXPECT_EQ(ParseInputLine("server 254 bye").note, "");
}

TEST(InputLine, NamesAllAndServerAsTargets) {
    EXPECT_EQ(SentFrame("all 7 hi").target, BROADCAST_ID);
    EXPECT_EQ(SentFrame("server 7 hi").target, SERVER_ID);
    EXPECT_EQ(SentFrame("0 7 hi").target, BROADCAST_ID);
}

TEST(InputLine, AcceptsEmptyValuesAndValuesUpTo255Bytes) {
    EXPECT_EQ(SentFrame("4 7").value, "");
    EXPECT_EQ(SentFrame("4 7 ").value, "");
    EXPECT_EQ(SentFrame("4 7 " + std::string(255, 'v')).value.size(), 255u);
    ExpectMalformed("4 7 " + std::string(256, 'v'));
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
}

TEST(InputLine, KnowsLeaveHelpAndEmptyLines) {
    EXPECT_EQ(ParseInputLine("leave").action, InputAction::Leave);
    EXPECT_EQ(ParseInputLine("help").action, InputAction::Help);
    EXPECT_EQ(ParseInputLine("").action, InputAction::Nothing);
    EXPECT_EQ(ParseInputLine("   ").action, InputAction::Nothing);
    // Only the whole word is a command.
    ExpectMalformed("leave now");
}
