// Console lines read on a thread of their own and handed over when the program takes them.

#include "program/ConsoleLineReader.h"
#include "tests/program/InputFile.h"

#include "sync/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr unsigned WAIT_STEP_MS = 10;
constexpr unsigned WAIT_LIMIT_MS = 10000;

// Collects what the reader hands over until its input has ended.
std::vector<std::string> ReadAll(ConsoleLineReader& reader) {
    std::vector<std::string> lines;
    for (unsigned waited = 0; !reader.Ended() && waited < WAIT_LIMIT_MS; waited += WAIT_STEP_MS) {
        for (std::string& line : reader.TakeLines()) {
            lines.push_back(std::move(line));
        }
        SleepMilliseconds(WAIT_STEP_MS);
    }
    for (std::string& line : reader.TakeLines()) {
        lines.push_back(std::move(line));
    }
    return lines;
}

TEST(ConsoleLineReader, HandsOverEveryLineInOrderThenEnds) {
    const std::string longLine(10000, 'x');
    std::FILE* input = InputOf("players\n\nkick 3\n" + longLine + "\nlast without an end");
    ASSERT_NE(input, nullptr);
    ConsoleLineReader reader;
    ASSERT_EQ(reader.Start(input), 0);
    EXPECT_EQ(ReadAll(reader),
              (std::vector<std::string>{"players", "", "kick 3", longLine, "last without an end"}));
    EXPECT_TRUE(reader.Ended());
    EXPECT_TRUE(reader.TakeLines().empty());
    std::fclose(input);
}

TEST(ConsoleLineReader, EmptyInputEndsWithNoLines) {
    std::FILE* input = InputOf("");
    ASSERT_NE(input, nullptr);
    ConsoleLineReader reader;
    ASSERT_EQ(reader.Start(input), 0);
    EXPECT_TRUE(ReadAll(reader).empty());
    EXPECT_TRUE(reader.Ended());
    // One reader per input.
    EXPECT_EQ(reader.Start(input), 1);
    std::fclose(input);
}

// The client keeps only the start of a line too long to send; the lines after it are whole.
TEST(ConsoleLineReader, KeepsTheStartOfALongLineAndCallsBackForEachLine) {
    std::FILE* input = InputOf(std::string(10000, 'x') + "\n4 7 hello\nleave");
    ASSERT_NE(input, nullptr);
    std::atomic<int> calls{0};
    ConsoleLineReader reader;
    ASSERT_EQ(reader.Start(
                  input, [&calls] { ++calls; }, 4096),
              0);
    EXPECT_EQ(ReadAll(reader),
              (std::vector<std::string>{std::string(4096, 'x'), "4 7 hello", "leave"}));
    EXPECT_EQ(calls.load(), 3);
    std::fclose(input);
}

}  // namespace
