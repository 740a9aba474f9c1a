#pragma once

// Process-wide settings for a program that serves many sockets.

// A peer that closes its end must not end the process with a broken-pipe signal.
void IgnoreBrokenPipeSignal();
// Raises the soft limit on open descriptors to the hard limit.
void RaiseDescriptorLimit();
