#include "tests/support/CommandRun.h"

#include "testing/Deadline.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

std::optional<CommandRun> RunCommand(const std::vector<std::string>& argv, int timeoutMs) {
    int fromChild[2];
    if (argv.empty() || pipe2(fromChild, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int empty = open("/dev/null", O_RDONLY);
        dup2(empty, STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        std::vector<char*> arguments;
        for (const std::string& argument : argv) {
            arguments.push_back(const_cast<char*>(argument.c_str()));
        }
        arguments.push_back(nullptr);
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    close(fromChild[1]);
    if (pid < 0) {
        close(fromChild[0]);
        return std::nullopt;
    }
    CommandRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd watched{fromChild[0], POLLIN, 0};
        if (poll(&watched, 1, RemainingMs(deadline)) <= 0) {
            break;
        }
        char chunk[4096];
        const ssize_t got = read(fromChild[0], chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        run.output.append(chunk, static_cast<std::size_t>(got));
    }
    close(fromChild[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (RemainingMs(deadline) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return std::nullopt;
        }
        usleep(10000);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

bool CommandExists(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path == nullptr ? "" : path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (access((folder + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}
