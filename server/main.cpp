#include "program/ProcessSetup.h"
#include "server/RunServer.h"
#include "vor/Version.h"

#include <cstdio>
#include <string>

namespace {

ServerState serverState;

}  // namespace

int main(int argc, char** argv) {
    ProcessNeeds needs;
    needs.plainLineEnds = true;
    needs.manyDescriptors = true;
    needs.servesInBackground = true;
    SetUpProcess(needs);
    ServerOptions options;
    std::string problem;
    switch (ParseServerOptions(argc, argv, options, problem)) {
        case OptionsResult::ShowHelp:
            std::fputs(ServerUsage().c_str(), stdout);
            return 0;
        case OptionsResult::ShowVersion:
            std::printf("vor-server %s\n", VOR_VERSION);
            return 0;
        case OptionsResult::Invalid:
            std::fprintf(stderr, "vor-server: %s (see vor-server --help)\n", problem.c_str());
            return 2;
        case OptionsResult::Serve:
            break;
    }
    return RunServer(serverState, options, stdin, stdout, stderr);
}
