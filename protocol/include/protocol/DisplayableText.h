#pragma once

#include <string>
#include <string_view>

// The value as shown to the operator: the text up to its first NUL, with the control bytes
// 0x01 to 0x1F and 0x7F written as \xNN so that a player cannot drive the operator's terminal.
std::string DisplayableText(const char* value);
// Every byte of `bytes`, with the control bytes 0x00 to 0x1F and 0x7F written as \xNN.
std::string DisplayableText(std::string_view bytes);
