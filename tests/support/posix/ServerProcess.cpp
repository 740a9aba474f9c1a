#include "tests/support/ServerProcess.h"

#include "testing/Deadline.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>

#ifndef VOR_SERVER_PATH
#error "VOR_SERVER_PATH must name the vor-server binary"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// How long a server gets to answer the port it was given.
constexpr int STARTUP_MS = 10000;
constexpr std::string_view LISTENING_LINE = "Done. Created a listing socket at port ";
constexpr std::string_view REFUSED_LINE = "Failed to create a listening socket at port ";

std::size_t CountOf(const std::string& haystack, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& prefix,
                             const std::vector<std::string>& arguments)
    : command(prefix) {
    const std::vector<std::string> server = Command();
    command.insert(command.end(), server.begin(), server.end());
    command.insert(command.end(), arguments.begin(), arguments.end());
    Launch();
}

ServerProcess::~ServerProcess() {
    Stop();
}

void ServerProcess::Launch() {
    int toChild[2];
    int fromChild[2];
    int errorsFromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0 ||
        pipe2(errorsFromChild, O_CLOEXEC) != 0) {
        std::abort();
    }
    pid = fork();
    if (pid == 0) {
        // The server starts with the broken-pipe signal at its default, as a shell starts it,
        // even when this process ignores it.
        signal(SIGPIPE, SIG_DFL);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(errorsFromChild[1], STDERR_FILENO);
        std::vector<char*> arguments;
        for (auto& word : command) {
            arguments.push_back(word.data());
        }
        arguments.push_back(nullptr);
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    close(errorsFromChild[1]);
    input = toChild[1];
    output = fromChild[0];
    // Read only when asked for; what a server writes there is short.
    errors = errorsFromChild[0];
    fcntl(errors, F_SETFL, O_NONBLOCK);
    collected.clear();
    collectedErrors.clear();
    exited = false;
    status = 0;
}

void ServerProcess::Stop() {
    CloseInput();
    if (pid > 0 && !exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        exited = true;
    }
    CloseOutput();
    if (errors >= 0) {
        close(errors);
        errors = -1;
    }
}

void ServerProcess::WriteInput(std::string_view text) {
    if (input >= 0) {
        const ssize_t written = write(input, text.data(), text.size());
        (void)written;
    }
}

void ServerProcess::CloseInput() {
    if (input >= 0) {
        close(input);
        input = -1;
    }
}

void ServerProcess::CloseOutput() {
    if (output >= 0) {
        close(output);
        output = -1;
    }
}

bool ServerProcess::Drain(int timeoutMs) {
    if (output < 0) {
        return false;
    }
    pollfd watched{output, POLLIN, 0};
    if (poll(&watched, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t result = read(output, chunk, sizeof chunk);
    if (result > 0) {
        collected.append(chunk, static_cast<std::size_t>(result));
        return true;
    }
    if (result == 0) {
        close(output);
        output = -1;
    }
    return false;
}

bool ServerProcess::WaitForOutput(std::string_view text, int timeoutMs) {
    return WaitForOutputCount(text, 1, timeoutMs);
}

bool ServerProcess::WaitForOutputCount(std::string_view text, std::size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (CountOf(collected, text) >= count) {
            return true;
        }
        if (output < 0 || RemainingMs(deadline) == 0) {
            return false;
        }
        Drain(RemainingMs(deadline));
    }
}

std::string ServerProcess::Output() {
    while (Drain(0)) {
    }
    return collected;
}

std::string ServerProcess::ErrorOutput() {
    char chunk[4096];
    ssize_t result = 0;
    while (errors >= 0 && (result = read(errors, chunk, sizeof chunk)) > 0) {
        collectedErrors.append(chunk, static_cast<std::size_t>(result));
    }
    return collectedErrors;
}

void ServerProcess::Signal(int signalNumber) {
    if (pid > 0 && !exited) {
        kill(pid, signalNumber);
    }
}

std::string ServerProcess::WaitForOutputSize(std::size_t size, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (collected.size() < size && output >= 0 && RemainingMs(deadline) > 0) {
        Drain(RemainingMs(deadline));
    }
    return Output();
}

std::optional<int> ServerProcess::WaitForExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exited) {
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) {
            exited = true;
            break;
        }
        if (RemainingMs(deadline) == 0) {
            return std::nullopt;
        }
        Drain(20);
    }
    // What the server wrote before it exited is in the pipe already; a process it left behind
    // may hold the pipe open, so the reading ends at the first quiet spell.
    while (Drain(100)) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::uint16_t ServerProcess::StartListening(bool display) {
    return ListenWith([display](std::uint16_t port) {
        return std::to_string(port) + (display ? "\ny\n" : "\nn\n");
    });
}

std::uint16_t ServerProcess::ListenWith(const std::function<std::string(std::uint16_t)>& reply,
                                        bool closeInput) {
    return ChoosePort([&](std::uint16_t port, bool relaunch) {
        if (relaunch) {
            Stop();
            Launch();
        }
        WriteInput(reply(port));
        if (closeInput) {
            CloseInput();
        }
    });
}

std::uint16_t ServerProcess::ListenWithPortOption(const std::vector<std::string>& arguments) {
    const std::vector<std::string> bare = command;
    return ChoosePort([&](std::uint16_t port, bool) {
        Stop();
        command = bare;
        command.insert(command.end(), arguments.begin(), arguments.end());
        command.push_back("--port");
        command.push_back(std::to_string(port));
        Launch();
    });
}

std::uint16_t ServerProcess::ChoosePort(
    const std::function<void(std::uint16_t port, bool relaunch)>& start) {
    // Ports below the range the system hands out to clients, so that a chosen one is seldom
    // taken; one that is taken costs a restart.
    constexpr int LOWEST_PORT = 20000;
    constexpr int HIGHEST_PORT = 32767;
    constexpr int ATTEMPTS = 20;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> choose(LOWEST_PORT, HIGHEST_PORT);
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        const auto port = static_cast<std::uint16_t>(choose(random));
        start(port, attempt > 0);
        const auto deadline = Clock::now() + std::chrono::milliseconds(STARTUP_MS);
        while (collected.find(LISTENING_LINE) == std::string::npos &&
               collected.find(REFUSED_LINE) == std::string::npos && output >= 0 &&
               RemainingMs(deadline) > 0) {
            Drain(RemainingMs(deadline));
        }
        if (collected.find(LISTENING_LINE) != std::string::npos) {
            return port;
        }
        if (collected.find(REFUSED_LINE) == std::string::npos) {
            return 0;
        }
    }
    return 0;
}

std::vector<std::string> ServerProcess::Command() {
    const char* named = std::getenv("VOR_SERVER_COMMAND");
    if (named == nullptr || *named == '\0') {
        return {VOR_SERVER_PATH};
    }
    std::vector<std::string> words;
    std::istringstream text(named);
    for (std::string word; text >> word;) {
        words.push_back(word);
    }
    return words;
}

bool ServerProcess::IsWindowsProgram() {
    const char* named = std::getenv("VOR_SERVER_COMMAND");
    return named != nullptr && std::string_view(named).find(".exe") != std::string_view::npos;
}

bool ServerProcess::IsNative() {
    const char* named = std::getenv("VOR_SERVER_COMMAND");
    return named == nullptr || *named == '\0' || std::string_view(named) == VOR_SERVER_PATH;
}
