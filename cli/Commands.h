#pragma once
// The commands of trimora-cli. Each returns the process's exit status:
// 0 success, 1 when any photograph failed, 2 for a usage error.
#include <cstdio>

#include "cli/Args.h"

struct CliStreams {
    FILE* out = stdout;
    FILE* err = stderr;
    FILE* bar = nullptr;  // the progress bar's terminal, or null
};

int RunFormats(const CliOptions& options, const CliStreams& streams);
int RunExport(const CliOptions& options, const CliStreams& streams);
int RunPreview(const CliOptions& options, const CliStreams& streams);
int RunCurve(const CliOptions& options, const CliStreams& streams);
int RunOrder(const CliOptions& options, const CliStreams& streams);

// Parses and runs a whole command line (without the program name).
int RunCli(int argc, const char* const* argv, const CliStreams& streams);
