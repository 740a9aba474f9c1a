#pragma once

// What a program of the system asks of its process, set once at the start of its main. The stop
// requests (StopRequest.h) are caught later, by the server, once it serves.
struct ProcessNeeds {
    // Standard output and standard error end their lines in "\n" alone, as the program writes
    // them, on every platform.
    bool plainLineEnds = false;
    // As many open descriptors as the system allows: the soft limit raised to the hard limit.
    bool manyDescriptors = false;
    // A server in the background of a shell keeps serving: reading its terminal makes the read
    // fail (see ConsoleReadFailedInBackground) instead of stopping the process, and its console
    // lines are written even where the terminal stops background writers.
    bool servesInBackground = false;
};

// Sets the process up for `needs`. Always: a peer that closes its end must not end the process
// with a broken-pipe signal.
void SetUpProcess(const ProcessNeeds& needs);

// True when the latest failed read of standard input, on this thread, failed only because the
// process is in the background of its terminal: the same read succeeds once the operator brings
// it to the foreground.
bool ConsoleReadFailedInBackground();
