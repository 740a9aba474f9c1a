// The command line read the same way in every program.

#include "program/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A program with a flag, two options with values and one positional word.
class ReadCommandLine : public ::testing::Test {
protected:
    ReadCommandLine() : line("vor-test", "What follows the options.") {
        line.AddFlag("--fair", "a flag");
        line.AddValue("--port", "N", "a value");
        line.AddValue("--bind", "ADDRESS", "another value");
    }

    CommandLineOutcome Read(std::vector<const char*> words) {
        words.insert(words.begin(), "vor-test");
        return line.Read(static_cast<int>(words.size()), words.data());
    }

    CommandLine line;
};

std::vector<std::string> Flatten(const std::vector<GivenWord>& given) {
    std::vector<std::string> words;
    for (const GivenWord& word : given) {
        words.push_back(word.name + "=" + word.value);
    }
    return words;
}

TEST_F(ReadCommandLine, TakesBothSpellingsInTheOrderGiven) {
    ASSERT_EQ(Read({"--port", "80", "--fair", "--bind=::1", "--port=-1", "--bind", "--fair"}),
              CommandLineOutcome::Read)
        << line.Problem();
    // Each occurrence is kept, with a value that looks like an option taken as the value.
    EXPECT_EQ(Flatten(line.Given()), (std::vector<std::string>{"--port=80", "--fair=", "--bind=::1",
                                                               "--port=-1", "--bind=--fair"}));
}

TEST_F(ReadCommandLine, NamesTheWordItCannotTake) {
    EXPECT_EQ(Read({"--port", "1", "--verbose", "2"}), CommandLineOutcome::UnknownWord);
    EXPECT_EQ(line.Problem(), "--verbose");
    EXPECT_EQ(Read({"4711"}), CommandLineOutcome::UnknownWord);
    EXPECT_EQ(line.Problem(), "4711");
    EXPECT_EQ(Read({"-x"}), CommandLineOutcome::UnknownWord);
    EXPECT_EQ(line.Problem(), "-x");
    // A flag takes no value, in either spelling of one.
    EXPECT_EQ(Read({"--port", "1", "--fair=yes", "--bind", "::1"}),
              CommandLineOutcome::UnknownWord);
    EXPECT_EQ(line.Problem(), "--fair=yes");
}

TEST_F(ReadCommandLine, AFlagWithAnEmptyOrTrueValueIsRefusedToo) {
    // "--fair=" and "--fair=true" give a flag a value as much as "--fair=yes" does.
    for (const char* word : {"--fair=", "--fair=true"}) {
        EXPECT_EQ(Read({"--port", "1", word}), CommandLineOutcome::UnknownWord) << word;
        EXPECT_EQ(line.Problem(), word);
    }
}

TEST_F(ReadCommandLine, AnOptionAtTheEndWithoutItsValue) {
    EXPECT_EQ(Read({"--fair", "--port"}), CommandLineOutcome::NeedsValue);
    EXPECT_EQ(line.Problem(), "--port");
    // An empty value after "=" is a value, for the program to refuse.
    ASSERT_EQ(Read({"--fair", "--bind="}), CommandLineOutcome::Read);
    EXPECT_EQ(Flatten(line.Given()), (std::vector<std::string>{"--fair=", "--bind="}));
    // Before other words too: the next word is not taken as its value.
    ASSERT_EQ(Read({"--bind=", "--port", "80"}), CommandLineOutcome::Read);
    EXPECT_EQ(Flatten(line.Given()), (std::vector<std::string>{"--bind=", "--port=80"}));
}

TEST_F(ReadCommandLine, HelpAndVersionWinOverWhatGoesWrongAfterThem) {
    EXPECT_EQ(Read({"--port", "1", "--help", "--bogus"}), CommandLineOutcome::ShowHelp);
    EXPECT_EQ(Read({"-h"}), CommandLineOutcome::ShowHelp);
    EXPECT_EQ(Read({"--version", "--port"}), CommandLineOutcome::ShowVersion);
    EXPECT_EQ(Read({"--version", "--help"}), CommandLineOutcome::ShowVersion);
}

TEST_F(ReadCommandLine, HelpListsEveryOptionWithItsValueAndTheFooter) {
    const std::string help = line.Help();
    EXPECT_TRUE(help.starts_with("Usage: vor-test")) << help;
    for (const char* part : {"--fair", "--port N", "--bind ADDRESS", "--help", "--version",
                             "another value", "What follows the options."}) {
        EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
    }
}

TEST(CommandLinePositionals, TakenInOrderAndMissingOnesNamed) {
    CommandLine line("vor-test", "");
    line.AddPositional("PATH", "first");
    line.AddPositional("COMMAND", "the rest", true);
    const auto read = [&line](std::vector<const char*> words) {
        words.insert(words.begin(), "vor-test");
        return line.Read(static_cast<int>(words.size()), words.data());
    };
    ASSERT_EQ(read({"/tmp/s", "kick", "-1"}), CommandLineOutcome::Read) << line.Problem();
    EXPECT_EQ(Flatten(line.Given()),
              (std::vector<std::string>{"PATH=/tmp/s", "COMMAND=kick", "COMMAND=-1"}));
    EXPECT_EQ(read({"/tmp/s"}), CommandLineOutcome::MissingPositional);
    EXPECT_EQ(line.Problem(), "COMMAND");
    // A word that names no option is reported before a missing positional.
    EXPECT_EQ(read({"--bogus"}), CommandLineOutcome::UnknownWord);
    EXPECT_EQ(line.Problem(), "--bogus");
}

}  // namespace
