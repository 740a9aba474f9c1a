#include "net/ProcessSetup.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

// Winsock raises no signal on a send to a closed connection: there is nothing to ignore.
void IgnoreBrokenPipeSignal() {}

// Windows has no limit on open sockets to raise; what bounds the players there is memory, and
// the 65534 player ids.
void RaiseDescriptorLimit() {}

// A console program in Windows is never stopped for reading or writing its console.
void KeepRunningInBackground() {}

bool ConsoleReadFailedInBackground() {
    return false;
}

// In text mode the C runtime writes "\r\n" for every "\n". The console shows both alike, but a
// program that reads the server through a pipe would see other text than on Linux.
void WritePlainLineEnds() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
