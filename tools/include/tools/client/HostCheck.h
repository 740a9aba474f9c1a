#pragma once

#include <string>

// What keeps the client from joining the server at `host` before it tries: a text with a colon
// that is no IPv6 address, or a host name that cannot be looked up (the library would quietly
// use 127.0.0.1 instead). Empty when there is nothing.
std::string HostProblem(const char* host);
