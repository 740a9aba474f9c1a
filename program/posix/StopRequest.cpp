#include "program/StopRequest.h"

#include <signal.h>

#include <atomic>
#include <cerrno>

namespace {

volatile sig_atomic_t stopRequested = 0;
std::atomic<void (*)()> stopNotifier{nullptr};

void OnStopSignal(int) {
    stopRequested = 1;
    if (void (*notify)() = stopNotifier.load()) {
        // The code the signal interrupted reads errno after this returns.
        const int savedError = errno;
        notify();
        errno = savedError;
    }
}

}  // namespace

void CatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls that a signal interrupts go on, so that a console read is not cut short.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal stops the server cleanly too, unless it was started to outlive its
    // terminal (nohup), which leaves SIGHUP ignored.
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) {
        sigaction(SIGHUP, &action, nullptr);
    }
}

bool StopRequested() {
    return stopRequested != 0;
}

void NotifyStopRequests(void (*notify)()) {
    stopNotifier = notify;
}

void ReportStopped() {}
