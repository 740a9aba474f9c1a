#pragma once

#include <string>

enum class ControlOutcome { Answered, NoServer, NoAnswer };

// Sends one command line to the control socket at `path` and collects the answer, without the
// empty line that ends it. NoServer when nothing listens at the path; NoAnswer when the server
// closed the connection or stayed silent for `waitMs` before the answer ended.
ControlOutcome AskControlSocket(const std::string& path, const std::string& command, int waitMs,
                                std::string& answer);

// True when `received` holds a whole answer: text ending in an empty line, or the empty answer
// alone.
bool IsWholeAnswer(const std::string& received);
