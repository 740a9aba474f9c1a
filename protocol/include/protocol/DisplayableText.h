#pragma once

#include <string>
#include <string_view>

// The value as shown to the operator: the text up to its first NUL, with every byte that could
// drive the operator's terminal or make the log unreadable as text written as \xNN: the control
// bytes 0x01 to 0x1F and 0x7F, the bytes that are not part of well-formed UTF-8, and the C1
// controls (U+0080 to U+009F, both of their bytes). Well-formed UTF-8 is shown as it is.
std::string DisplayableText(const char* value);
// Every byte of `bytes`, written as above; a NUL is written as \x00.
std::string DisplayableText(std::string_view bytes);
