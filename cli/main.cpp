// trimora-cli: the program's engine from the command line, for whole folders
// of photographs and for scripts.
#include <unistd.h>

#include <cstdio>

#include "cli/Commands.h"
#include "imaging/TempFile.h"

int main(int argc, char** argv) {
    // Ctrl-C and the like remove the exports' temporaries before the process
    // ends; a file-size limit fails the write instead of killing the process.
    TempFile::InstallSignalCleanup();
    CliStreams streams;
    // The bar only where someone watches; a pipe or a file gets the result
    // lines and nothing else.
    if (::isatty(STDERR_FILENO)) streams.bar = stderr;
    return RunCli(argc - 1, argv + 1, streams);
}
