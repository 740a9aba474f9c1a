#include "server/RunServer.h"

#include "program/ConsoleLineReader.h"
#include "program/StopRequest.h"
#include "server/CleanStop.h"
#include "server/ConsoleOutput.h"
#include "server/Dialogue.h"
#include "server/OperatorChannels.h"
#include "server/OperatorCommands.h"
#include "server/PassPace.h"
#include "server/ServerPass.h"

#include <string>

namespace {

// Carries out the commands typed since the last pass; Quit when one of them was quit.
CommandResult RunTypedCommands(ServerState& state, ConsoleLineReader& commands) {
    CommandAnswer console(state.console);
    for (const std::string& line : commands.TakeLines()) {
        if (RunOperatorCommand(state, line, console) == CommandResult::Quit) {
            return CommandResult::Quit;
        }
    }
    return CommandResult::Continue;
}

// Passes at the options' pace until a stop is asked for.
void RunPasses(ServerState& state, std::FILE* in) {
    PassPace pace(state, state.options.passInterval);
    // Declared after the pace, so that it stops raising the pace's wake signal first.
    ConsoleLineReader commands;
    const WakeSignal* wake = &pace.Wake();
    commands.Start(in, [wake] { wake->Raise(); });
    while (!StopRequested()) {
        const auto start = SteadyClock::now();
        ServerPass(state);
        state.statistics.CountPass(SteadyClock::now() - start, state.registry.size());
        if (RunTypedCommands(state, commands) == CommandResult::Quit ||
            ServeOperatorChannels(state) == CommandResult::Quit) {
            break;
        }
        pace.AwaitNextPass(start);
    }
}

int Serve(ServerState& state, std::FILE* in) {
    RunPasses(state, in);
    StopServing(state);
    ReportStopped();
    return 0;
}

}  // namespace

int RunServer(ServerState& state, const ServerOptions& options, std::FILE* in, std::FILE* out,
              std::FILE* errors) {
    state.console = out;
    state.options = options;
    // The port as typed or given; the socket uses its low 16 bits.
    std::uint32_t portNumber = options.port;
    if (options.askOperator) {
        const std::optional<OperatorAnswers> answers = AskOperator(in, out);
        if (!answers) {
            return 1;
        }
        state.options.displayMessages = answers->displayMessages;
        portNumber = answers->portNumber;
    } else {
        PrintBanner(out);
    }
    const auto port = static_cast<std::uint16_t>(portNumber & 0xFFFF);
    const char* bindAddress = options.bindAddress.empty() ? nullptr : options.bindAddress.c_str();
    const int family = options.bindIpv6 ? NS_IPV6 : 0;
    if (state.listener.Open(NS_TCP | NS_SERVER | family, port, bindAddress) != 0) {
        ConsolePrint(out, "Failed to create a listening socket at port %u.\n", portNumber);
        ConsolePrint(errors, "vor-server: %s\n", state.listener.OpenFailure().c_str());
        // A service manager must see the failure at once; an operator at the console reads it
        // before the window closes.
        if (!options.askOperator) {
            return 1;
        }
        PauseForOperator(in, out);
        return 0;
    }
    std::string problem;
    if (OpenOperatorChannels(state, options, problem) != 0) {
        state.listener.Close();
        ConsolePrint(errors, "vor-server: %s\n", problem.c_str());
        return 1;
    }
    // From the moment the listening line is out, a stop request ends the serving cleanly.
    CatchStopRequests();
    ConsolePrint(out, "Done. Created a listing socket at port %u.\n\n", portNumber);
    state.statistics.startedAt = SteadyClock::now();
    if (!options.askOperator && options.port == 0) {
        ConsolePrint(out, "The system chose port %u.\n",
                     static_cast<unsigned>(state.listener.LocalPort()));
    }
    return Serve(state, in);
}
