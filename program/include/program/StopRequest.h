#pragma once

// Turns the requests to end the process that an operator or a service manager makes (SIGINT,
// SIGTERM and SIGHUP, unless SIGHUP was ignored at start as nohup does; Ctrl+C, Ctrl+Break and
// closing the console on Windows) into a flag that the main loop reads, so that it can stop
// cleanly after its current pass.
void CatchStopRequests();
bool StopRequested();
// Has `notify` called after each stop request is noted (null: nothing), from the signal handler
// or the console's handler thread, so that a waiting loop can be woken: it may do only what a
// signal handler may.
void NotifyStopRequests(void (*notify)());
// Tells the platform that the clean stop is complete. Windows ends a process whose console is
// closed as soon as its handler returns, so the handler waits for this.
void ReportStopped();
