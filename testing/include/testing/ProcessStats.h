#pragma once

#include <cstddef>
#include <optional>

// What the kernel reports about a running process.

using ProcessId = int;

ProcessId ThisProcess();
// Resident memory in KiB.
std::optional<long> ResidentKilobytes(ProcessId process);
// CPU time spent in user and kernel mode, in milliseconds.
std::optional<long> CpuMilliseconds(ProcessId process);
// The sockets the process holds open.
int OpenSocketCount(ProcessId process);
// This process's soft limit on open descriptors.
std::size_t OpenFileLimit();
