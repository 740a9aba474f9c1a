#pragma once

// Turns the requests to end the process that an operator or a service manager makes (SIGINT,
// SIGTERM and SIGHUP, unless SIGHUP was ignored at start as nohup does; Ctrl+C, Ctrl+Break and
// closing the console on Windows) into a flag that the main loop reads, so that it can stop
// cleanly after its current pass.
void CatchStopRequests();
bool StopRequested();
// Tells the platform that the clean stop is complete. Windows ends a process whose console is
// closed as soon as its handler returns, so the handler waits for this.
void ReportStopped();
