#include "program/ProcessSetup.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

// Winsock raises no signal on a send to a closed connection, Windows has no limit on open
// sockets to raise (what bounds the players there is memory, and the 65534 player ids), and a
// console program is never stopped for reading or writing its console: only the line ends are
// set. In text mode the C runtime writes "\r\n" for every "\n"; the console shows both alike,
// but a program that reads the server through a pipe would see other text than on Linux.
void SetUpProcess(const ProcessNeeds& needs) {
    if (needs.plainLineEnds) {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
    }
}

bool ConsoleReadFailedInBackground() {
    return false;
}
