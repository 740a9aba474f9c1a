#include "net/ProcessSetup.h"
#include "server/RunServer.h"

#include <cstdio>

namespace {

ServerState serverState;

}  // namespace

int main() {
    IgnoreBrokenPipeSignal();
    RaiseDescriptorLimit();
    WritePlainLineEnds();
    return RunServer(serverState, stdin, stdout);
}
