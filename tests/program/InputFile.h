#pragma once

#include <cstdio>
#include <string>

// A temporary file that holds `text`, read from its start, as a console input; null when none
// could be made. The caller closes it.
inline std::FILE* InputOf(const std::string& text) {
    std::FILE* file = std::tmpfile();
    if (file != nullptr) {
        std::fputs(text.c_str(), file);
        std::rewind(file);
    }
    return file;
}
