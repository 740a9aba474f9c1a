#include "program/CommandLine.h"
#include "program/ProcessSetup.h"
#include "tools/ctl/ControlRequest.h"
#include "vor/Version.h"

#include <cstdio>
#include <optional>
#include <string>

namespace {

// Long enough for a server busy with a slow pass, short enough for a script to go on.
constexpr int ANSWER_WAIT_MS = 10000;

const char* const HELP_FOOTER =
    "Sends one operator's command to the vor-server whose control socket is at PATH\n"
    "(vor-server --control PATH) and prints its answer.\n"
    "\n"
    "Commands: players, kick ID, stats, quit, help, metrics.\n"
    "Exit status: 0 with the answer printed, 1 when no server answers, 2 on a usage error.";

// Reads PATH and the command's words; the exit status when the program ends here, having
// printed why.
std::optional<int> ReadCommandLine(int argc, char** argv, std::string& path, std::string& command) {
    CommandLine line("vor-ctl", HELP_FOOTER);
    line.AddPositional("PATH", "the server's control socket");
    line.AddPositional("COMMAND", "the command and its arguments", true);
    std::string problem;
    switch (line.Read(argc, argv)) {
        case CommandLineOutcome::ShowHelp:
            std::fputs(line.Help().c_str(), stdout);
            return 0;
        case CommandLineOutcome::ShowVersion:
            std::printf("vor-ctl %s\n", VOR_VERSION);
            return 0;
        case CommandLineOutcome::MissingPositional:
            problem = "the control socket's PATH and a COMMAND are needed";
            break;
        case CommandLineOutcome::NeedsValue:
            problem = line.Problem() + " needs a value";
            break;
        case CommandLineOutcome::UnknownWord:
            problem = "unknown option '" + line.Problem() + "'";
            break;
        case CommandLineOutcome::Read:
            for (const GivenWord& word : line.Given()) {
                if (word.name == "PATH") {
                    path = word.value;
                } else {
                    command += command.empty() ? word.value : " " + word.value;
                }
            }
            if (command.find('\n') == std::string::npos) {
                return std::nullopt;
            }
            std::fputs("vor-ctl: a command is one line\n", stderr);
            return 2;
    }
    std::fprintf(stderr, "vor-ctl: %s (see vor-ctl --help)\n", problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ProcessNeeds needs;
    needs.plainLineEnds = true;
    SetUpProcess(needs);
    std::string path;
    std::string command;
    if (const std::optional<int> status = ReadCommandLine(argc, argv, path, command)) {
        return *status;
    }
    std::string answer;
    switch (AskControlSocket(path, command, ANSWER_WAIT_MS, answer)) {
        case ControlOutcome::Answered:
            std::fwrite(answer.data(), 1, answer.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case ControlOutcome::NoServer:
            std::fprintf(stderr, "vor-ctl: no server listens at '%s'\n", path.c_str());
            return 1;
        case ControlOutcome::NoAnswer:
            break;
    }
    std::fprintf(stderr, "vor-ctl: the server at '%s' did not answer\n", path.c_str());
    return 1;
}
