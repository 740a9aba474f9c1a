#include "tools/ctl/ControlRequest.h"

#include "net/LocalSocket.h"

bool IsWholeAnswer(const std::string& received) {
    return received == "\n" || received.ends_with("\n\n");
}

ControlOutcome AskControlSocket(const std::string& path, const std::string& command, int waitMs,
                                std::string& answer) {
    answer.clear();
    LocalStream stream;
    if (stream.Connect(path) != 0) {
        return ControlOutcome::NoServer;
    }
    const std::string line = command + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        const LocalIo result = stream.Send(line.data() + sent, line.size() - sent);
        if (result.status != LocalIoStatus::Done) {
            return ControlOutcome::NoAnswer;
        }
        sent += result.bytes;
    }
    std::string received;
    while (!IsWholeAnswer(received)) {
        char bytes[4096];
        const LocalIo result = stream.Receive(bytes, sizeof bytes, waitMs);
        if (result.status != LocalIoStatus::Done) {
            return ControlOutcome::NoAnswer;
        }
        received.append(bytes, result.bytes);
    }
    answer = received.substr(0, received.size() - 1);
    return ControlOutcome::Answered;
}
