#pragma once
// trimora's command line: the storage root, a photograph to start with, and
// the options Qt takes for itself.
#include <cstdio>
#include <string>

struct StartOptions {
    std::string root;   // as given with --root; empty when not given
    std::string photo;  // host path of the photograph to open; empty for none
};

// Reads argv without touching it (Qt reads its own options later). Returns
// -1 when the program is to start; otherwise the exit status, after printing
// the help, the version or what is wrong to `out` or `err`.
int ParseCommandLine(int argc, char** argv, StartOptions& options, FILE* out = stdout, FILE* err = stderr);

// Qt complains on every start when XDG_RUNTIME_DIR is not set (as for root
// on a plain console) and then uses /tmp/runtime-USER anyway. Setting the
// same folder up front keeps the start quiet.
void QuietRuntimeDir();
