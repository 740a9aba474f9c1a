#include "net/ProcessSetup.h"
#include "tools/ctl/ControlRequest.h"
#include "vor/Version.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

// Long enough for a server busy with a slow pass, short enough for a script to go on.
constexpr int ANSWER_WAIT_MS = 10000;

const char* Usage() {
    return "Usage: vor-ctl PATH COMMAND [ARGUMENT...]\n"
           "Sends one operator's command to the vor-server whose control socket is at PATH\n"
           "(vor-server --control PATH) and prints its answer.\n"
           "\n"
           "Commands: players, kick ID, stats, quit, help, metrics.\n"
           "Exit status: 0 with the answer printed, 1 when no server answers, 2 on a usage "
           "error.\n";
}

}  // namespace

int main(int argc, char** argv) {
    WritePlainLineEnds();
    IgnoreBrokenPipeSignal();
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(Usage(), stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("vor-ctl %s\n", VOR_VERSION);
        return 0;
    }
    if (argc < 3) {
        std::fputs(Usage(), stderr);
        return 2;
    }
    std::string command = argv[2];
    for (int index = 3; index < argc; ++index) {
        command += ' ';
        command += argv[index];
    }
    if (command.find('\n') != std::string::npos) {
        std::fputs("vor-ctl: a command is one line\n", stderr);
        return 2;
    }
    std::string answer;
    switch (AskControlSocket(argv[1], command, ANSWER_WAIT_MS, answer)) {
        case ControlOutcome::Answered:
            std::fwrite(answer.data(), 1, answer.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case ControlOutcome::NoServer:
            std::fprintf(stderr, "vor-ctl: no server listens at '%s'\n", argv[1]);
            return 1;
        case ControlOutcome::NoAnswer:
            break;
    }
    std::fprintf(stderr, "vor-ctl: the server at '%s' did not answer\n", argv[1]);
    return 1;
}
