#include "program/CommandLine.h"

#include <CLI/CLI.hpp>

#include <map>
#include <optional>
#include <utility>

namespace {

// The width of the help's column of option names: a longer name puts its text on the next line.
constexpr std::size_t NAME_COLUMN = 23;

bool TakesNoValue(const CLI::Option& option) {
    return option.get_expected_max() == 0;
}

}  // namespace

CommandLine::CommandLine(const char* program, const char* footer)
    : app(std::make_unique<CLI::App>("", program)) {
    // --help is read like any other flag, so that it wins over what follows it as it is read.
    app->set_help_flag();
    // Words that fit nothing are left for Read to report, in the program's own words.
    app->allow_extras();
    // The same syntax on every platform: on Windows CLI11 would read "/name" as an option too,
    // and a path given as a value or positional word starts so.
    app->allow_windows_style_options(false);
    app->footer(footer);
    app->get_formatter()->column_width(NAME_COLUMN);
    AddFlag("-h,--help", "show this text");
    AddFlag("--version", "show the version");
}

CommandLine::~CommandLine() = default;

void CommandLine::AddFlag(const char* name, const char* help) {
    const std::string description(help);
    app->add_flag(name, description)->disable_flag_override();
}

void CommandLine::AddValue(const char* name, const char* valueName, const char* help) {
    app->add_option(name, CLI::callback_t(), help)
        ->option_text(valueName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void CommandLine::AddPositional(const char* name, const char* help, bool many) {
    CLI::Option* positional = app->add_option(name, CLI::callback_t(), help)->required();
    positional->type_name("");
    if (many) {
        positional->expected(CLI::detail::expected_max_vector_size);
    }
}

CommandLineOutcome CommandLine::Read(int argc, const char* const* argv) {
    std::vector<std::string> words;
    for (int index = 1; index < argc; ++index) {
        words.emplace_back(argv[index]);
    }
    problem.clear();
    // The words are looked at in order up to a help or version word, which wins over what
    // follows it but not over what comes before it: those words are read, and their values
    // checked by the program, first.
    std::optional<CommandLineOutcome> shown;
    std::size_t at = 0;
    for (; at < words.size() && !shown; ++at) {
        const std::string& word = words[at];
        if (word == "-h" || word == "--help") {
            shown = CommandLineOutcome::ShowHelp;
        } else if (word == "--version") {
            shown = CommandLineOutcome::ShowVersion;
        } else if (const CLI::Option* option = NamedOption(word)) {
            const std::size_t equals = word.find('=');
            // "--fair=" and "--fair=true" give a flag a value, which CLI11 would let pass.
            if (equals != std::string::npos && TakesNoValue(*option)) {
                return Refuse(CommandLineOutcome::UnknownWord, word);
            }
            if (equals == std::string::npos && !TakesNoValue(*option)) {
                // The next word is this option's value, whatever it looks like.
                ++at;
            } else if (equals != std::string::npos && equals + 1 == word.size()) {
                // "--name=" gives an empty value wherever it stands; CLI11 would take the next
                // word as the value instead, so the name and an empty word are given.
                words[at].pop_back();
                words.insert(words.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::string());
                ++at;
            }
        }
    }
    if (shown) {
        words.resize(at - 1);
    }
    const CommandLineOutcome outcome = ReadWords(std::move(words));
    if (shown &&
        (outcome == CommandLineOutcome::Read || outcome == CommandLineOutcome::MissingPositional)) {
        return *shown;
    }
    return outcome;
}

std::string CommandLine::Help() const {
    return app->help();
}

// CLI11 reports what it cannot read by throwing; this is the one place that catches it, and
// turns it into an outcome. CLI11 takes the words from the back of `pending`, so what is left
// there tells which word it was reading.
CommandLineOutcome CommandLine::ReadWords(std::vector<std::string> words) {
    std::vector<std::string> pending(words.rbegin(), words.rend());
    bool missingPositional = false;
    bool wordRefused = false;
    // CLI11 keeps the order of earlier reads; this read's words come after them.
    const std::size_t earlier = app->parse_order().size();
    try {
        app->parse(pending);
    } catch (const CLI::RequiredError&) {
        missingPositional = true;
    } catch (const CLI::ParseError&) {
        wordRefused = true;
    }
    CollectGiven(earlier);
    for (const GivenWord& word : given) {
        if (word.name == "--help") {
            return CommandLineOutcome::ShowHelp;
        }
        if (word.name == "--version") {
            return CommandLineOutcome::ShowVersion;
        }
    }
    // CLI11 refuses nothing before its first word; should it, the first word is named.
    if (wordRefused && pending.size() >= words.size()) {
        return Refuse(CommandLineOutcome::UnknownWord, words.empty() ? "" : words.front());
    }
    if (wordRefused) {
        const std::string& word = words[words.size() - pending.size() - 1];
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const CLI::Option* option = app->get_option_no_throw(name);
        if (option == nullptr || TakesNoValue(*option)) {
            return Refuse(CommandLineOutcome::UnknownWord, word);
        }
        return Refuse(CommandLineOutcome::NeedsValue, option->get_name());
    }
    const std::vector<std::string> extras = app->remaining();
    if (!extras.empty()) {
        return Refuse(CommandLineOutcome::UnknownWord, extras.front());
    }
    if (missingPositional) {
        for (const CLI::Option* option : app->get_options()) {
            if (option->get_positional() && option->count() == 0) {
                return Refuse(CommandLineOutcome::MissingPositional, option->get_name());
            }
        }
    }
    return CommandLineOutcome::Read;
}

const CLI::Option* CommandLine::NamedOption(const std::string& word) const {
    if (!word.starts_with("--")) {
        return nullptr;
    }
    const CLI::Option* option = app->get_option_no_throw(word.substr(0, word.find('=')));
    return option != nullptr && !option->get_positional() ? option : nullptr;
}

// The options and positionals in the order of the command line, each with its value.
void CommandLine::CollectGiven(std::size_t earlier) {
    given.clear();
    std::map<const CLI::Option*, std::size_t> taken;
    const std::vector<CLI::Option*>& order = app->parse_order();
    for (std::size_t at = earlier; at < order.size(); ++at) {
        const CLI::Option* option = order[at];
        const std::size_t index = taken[option]++;
        GivenWord word{option->get_name(), ""};
        if (!TakesNoValue(*option) && index < option->results().size()) {
            word.value = option->results()[index];
        }
        given.push_back(std::move(word));
    }
}

CommandLineOutcome CommandLine::Refuse(CommandLineOutcome outcome, std::string word) {
    problem = std::move(word);
    return outcome;
}
