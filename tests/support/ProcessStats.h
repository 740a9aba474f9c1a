#pragma once

#include <sys/types.h>

#include <optional>

// What the kernel reports about a running process.

// Resident memory in KiB.
std::optional<long> ResidentKilobytes(pid_t pid);
// CPU time spent in user and kernel mode, in milliseconds.
std::optional<long> CpuMilliseconds(pid_t pid);
