// rigtool-cli's run: RigTool's core driven from the command line.
#pragma once

#include <cstdio>

#include "cli_options.h"

namespace q7m::rigtool {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Opens the reader, runs the list or the call of `options`, closes the
// reader. The log goes to `out`, message boxes to `err`. Returns the exit
// status.
int RunCli(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace q7m::rigtool
