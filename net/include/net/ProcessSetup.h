#pragma once

// Process-wide settings for a program that serves many sockets.

// A peer that closes its end must not end the process with a broken-pipe signal.
void IgnoreBrokenPipeSignal();
// Raises the soft limit on open descriptors to the hard limit.
void RaiseDescriptorLimit();
// Standard output and standard error end their lines in "\n" alone, as the program writes them,
// on every platform.
void WritePlainLineEnds();
// A server in the background of a shell keeps serving: reading its terminal makes the read fail
// instead of stopping the process, and its console lines are written even where the terminal
// stops background writers.
void KeepRunningInBackground();
// True when the latest failed read of standard input, on this thread, failed only because the
// process is in the background of its terminal: the same read succeeds once the operator brings
// it to the foreground.
bool ConsoleReadFailedInBackground();
