// rigtool-cli: RigTool without its window, for scripts and soak rigs.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_options.h"
#include "cli_runner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  q7m::rigtool::CliOptions options;
  std::string error;
  if (!q7m::rigtool::ParseCliOptions(args, &options, &error)) {
    std::fprintf(stderr, "rigtool-cli: %s\nTry 'rigtool-cli --help' for more information.\n",
                 error.c_str());
    return q7m::rigtool::kExitUsage;
  }
  if (options.help) {
    std::fputs(q7m::rigtool::CliUsage(), stdout);
    return q7m::rigtool::kExitOk;
  }
  return q7m::rigtool::RunCli(options, stdout, stderr);
}
