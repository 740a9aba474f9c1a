#pragma once

#include <optional>
#include <string>
#include <vector>

// What a program run to its end printed on its standard output, and its exit status.
struct CommandRun {
    int status = -1;
    std::string output;
};

// Runs `argv` (looked up on PATH when it names no folder) with an empty standard input and its
// standard error left to the test's. None when it could not be started or was still running
// after `timeoutMs`; it is then ended, by its PID.
std::optional<CommandRun> RunCommand(const std::vector<std::string>& argv, int timeoutMs);

// True when `program` is found on PATH.
bool CommandExists(const std::string& program);
