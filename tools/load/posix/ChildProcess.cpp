#include "tools/load/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

ChildProcess::~ChildProcess() {
    Stop();
    if (input >= 0) {
        close(input);
    }
    if (output >= 0) {
        close(output);
    }
}

void ChildProcess::Stop() {
    int status = 0;
    if (pid <= 0 || Ended(status)) {
        return;
    }
    kill(static_cast<pid_t>(pid), SIGTERM);
    int raw = 0;
    if (waitpid(static_cast<pid_t>(pid), &raw, 0) == static_cast<pid_t>(pid)) {
        ended = true;
        endStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
}

namespace {

// The error a failed exec reported through `failures`, or 0 once the exec closed it.
int ExecError(int failures) {
    int error = 0;
    ssize_t got;
    do {
        got = read(failures, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void ClosePipe(const int ends[2]) {
    close(ends[0]);
    close(ends[1]);
}

}  // namespace

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& arguments) {
    // The third pipe carries the error of a failed exec; a successful exec closes it.
    int toChild[2];
    int fromChild[2];
    int failures[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        startFailure = std::strerror(errno);
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        startFailure = std::strerror(errno);
        ClosePipe(toChild);
        return false;
    }
    if (pipe2(failures, O_CLOEXEC) != 0) {
        startFailure = std::strerror(errno);
        ClosePipe(toChild);
        ClosePipe(fromChild);
        return false;
    }
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(fromChild[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t written = write(failures[1], &error, sizeof error);
        _exit(127);
    }
    const int forkError = errno;
    close(toChild[0]);
    close(fromChild[1]);
    close(failures[1]);
    const int execError = child > 0 ? ExecError(failures[0]) : 0;
    close(failures[0]);
    if (child < 0 || execError != 0) {
        startFailure = std::strerror(child < 0 ? forkError : execError);
        if (child > 0) {
            waitpid(child, nullptr, 0);
        }
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    fcntl(fromChild[0], F_SETFL, fcntl(fromChild[0], F_GETFL) | O_NONBLOCK);
    pid = child;
    input = toChild[1];
    output = fromChild[0];
    return true;
}

void ChildProcess::ReadOutput(std::string& into) {
    char chunk[4096];
    for (ssize_t got = read(output, chunk, sizeof chunk); got > 0;
         got = read(output, chunk, sizeof chunk)) {
        into.append(chunk, static_cast<std::size_t>(got));
    }
}

bool ChildProcess::Ended(int& status) {
    if (!ended && pid > 0) {
        int raw = 0;
        if (waitpid(static_cast<pid_t>(pid), &raw, WNOHANG) == static_cast<pid_t>(pid)) {
            ended = true;
            endStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
    }
    status = endStatus;
    return ended;
}

long ResidentKib(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/status", pid);
    std::FILE* status = std::fopen(path, "r");
    if (status == nullptr) {
        return -1;
    }
    long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kib;
}

std::int64_t ProcessorMicros(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    std::FILE* stat = std::fopen(path, "r");
    if (stat == nullptr) {
        return -1;
    }
    char line[1024];
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    // The command name, in parentheses, may hold spaces; the fields after it are the state
    // (field 3) and numbers, user time being field 14 and system time field 15, in clock ticks.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    if (close == nullptr) {
        return -1;
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (std::sscanf(close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                    &system) != 2) {
        return -1;
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    return static_cast<std::int64_t>((user + system) * 1000000ULL /
                                     static_cast<unsigned long long>(ticksPerSecond));
}
