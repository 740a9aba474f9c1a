#include "net/ProcessSetup.h"

#include <signal.h>
#include <sys/resource.h>

void IgnoreBrokenPipeSignal() {
    signal(SIGPIPE, SIG_IGN);
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Output is written as it is on this platform.
void WritePlainLineEnds() {}
