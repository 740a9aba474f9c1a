#include "server/RunServer.h"

#include "server/ConsoleOutput.h"
#include "server/Dialogue.h"
#include "server/ServerPass.h"
#include "sync/Clock.h"

namespace {

constexpr unsigned PASS_INTERVAL_MS = 100;

}  // namespace

int RunServer(ServerState& state, std::FILE* in, std::FILE* out) {
    state.console = out;
    const std::optional<OperatorAnswers> answers = AskOperator(in, out);
    if (!answers) {
        return 1;
    }
    state.displayMessages = answers->displayMessages;
    const auto port = static_cast<std::uint16_t>(answers->portNumber & 0xFFFF);
    if (state.listener.Open(NS_TCP | NS_SERVER, port, nullptr) != 0) {
        ConsolePrint(out, "Failed to create a listening socket at port %u.\n", answers->portNumber);
        PauseForOperator(in, out);
        return 0;
    }
    ConsolePrint(out, "Done. Created a listing socket at port %u.\n\n", answers->portNumber);
    for (;;) {
        ServerPass(state);
        SleepMilliseconds(PASS_INTERVAL_MS);
    }
}
