#include "program/StopRequest.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> stopped{false};
std::atomic<void (*)()> stopNotifier{nullptr};

void NoteStopRequest() {
    stopRequested = true;
    if (void (*notify)() = stopNotifier.load()) {
        notify();
    }
}

// Windows ends the process when the handler of a console close returns, and at the latest
// after five seconds; the clean stop takes at most about one.
constexpr DWORD CLOSE_WAIT_MS = 4000;
constexpr DWORD CLOSE_POLL_MS = 10;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            NoteStopRequest();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            NoteStopRequest();
            for (DWORD waited = 0; !stopped && waited < CLOSE_WAIT_MS; waited += CLOSE_POLL_MS) {
                Sleep(CLOSE_POLL_MS);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void CatchStopRequests() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopRequested() {
    return stopRequested;
}

void NotifyStopRequests(void (*notify)()) {
    stopNotifier = notify;
}

void ReportStopped() {
    stopped = true;
}
