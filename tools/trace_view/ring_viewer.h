// Showing a ring and following it as it is written.
#pragma once

#include <cstdio>

#include "viewer_options.h"

namespace q7m::traceview {

// Shows the ring named in `options` on `out` (and follows it with
// --follow); problems go to `err` prefixed with the program name. Returns
// the exit status (0, or 1 when the file cannot be read as a ring).
int RunViewer(ViewerOptions options, std::FILE* out, std::FILE* err);

}  // namespace q7m::traceview
