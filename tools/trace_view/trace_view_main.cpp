// q7m-trace: shows the records of a trace ring, oldest first.
#include <cstdio>
#include <string>
#include <vector>

#include "ring_viewer.h"
#include "viewer_options.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  q7m::traceview::ViewerOptions options;
  std::string error;
  if (!q7m::traceview::ParseViewerOptions(args, &options, &error)) {
    std::fprintf(stderr, "q7m-trace: %s\nTry 'q7m-trace --help' for more information.\n",
                 error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(q7m::traceview::ViewerUsage(), stdout);
    return 0;
  }
  return q7m::traceview::RunViewer(std::move(options), stdout, stderr);
}
