#pragma once

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

// One option or positional word as the command line gave it, in the order given.
struct GivenWord {
    // The option's long name with its dashes ("--port"), or the positional's name ("PORT").
    std::string name;
    // The value given; empty for a flag.
    std::string value;
};

enum class CommandLineOutcome {
    // Every word was read: Given() holds them.
    Read,
    // --help or --version came, and the words before it were read: Given() holds them, for the
    // program to check their values before it shows the help or the version.
    ShowHelp,
    ShowVersion,
    // Problem() is the first word that names no option, gives a flag a value ("--fair=1") or
    // fills no positional.
    UnknownWord,
    // Problem() is the option that ended the command line without its value.
    NeedsValue,
    // Problem() names the first positional that was not given.
    MissingPositional,
};

// A program's command line read the same way in every program: "--name value" and
// "--name=value", flags without values, positional words, and a help text generated from the
// declarations, with -h, --help and --version declared for every program. Values are handed
// over as text, for the program to check; what it reports is its own.
class CommandLine {
public:
    // `program` heads the usage line of the help, `footer` follows the list of options.
    CommandLine(const char* program, const char* footer);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    void AddFlag(const char* name, const char* help);
    // An option with one value, shown as `name valueName` in the help.
    void AddValue(const char* name, const char* valueName, const char* help);
    // One positional word, in the order declared; `many` takes one or more words, and only the
    // last positional may.
    void AddPositional(const char* name, const char* help, bool many = false);

    CommandLineOutcome Read(int argc, const char* const* argv);
    const std::vector<GivenWord>& Given() const { return given; }
    const std::string& Problem() const { return problem; }
    std::string Help() const;

private:
    CommandLineOutcome ReadWords(std::vector<std::string> words);
    // The option a "--name" or "--name=value" word names, or null.
    const CLI::Option* NamedOption(const std::string& word) const;
    void CollectGiven(std::size_t earlier);
    CommandLineOutcome Refuse(CommandLineOutcome outcome, std::string word);

    std::unique_ptr<CLI::App> app;
    std::vector<GivenWord> given;
    std::string problem;
};
