// trimora-cli: the program's engine from the command line, for whole folders
// of photographs and for scripts.
#include <unistd.h>

#include <cstdio>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    CliStreams streams;
    // The bar only where someone watches; a pipe or a file gets the result
    // lines and nothing else.
    if (::isatty(STDERR_FILENO)) streams.bar = stderr;
    return RunCli(argc - 1, argv + 1, streams);
}
