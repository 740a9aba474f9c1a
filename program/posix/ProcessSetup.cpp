#include "program/ProcessSetup.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>

namespace {

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A stopped server would stop serving its players: reads of the terminal from the background
// fail with EIO instead (SIGTTIN), and writes go through (SIGTTOU, with `stty tostop`).
void KeepRunningInBackground() {
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
}

}  // namespace

// Output is written as it is on this platform, so plain line ends need nothing.
void SetUpProcess(const ProcessNeeds& needs) {
    signal(SIGPIPE, SIG_IGN);
    if (needs.manyDescriptors) {
        RaiseDescriptorLimit();
    }
    if (needs.servesInBackground) {
        KeepRunningInBackground();
    }
}

bool ConsoleReadFailedInBackground() {
    return errno == EIO;
}
