// How the viewer shows a record.
#pragma once

#include <string>

#include "ring_file.h"

namespace q7m::traceview {

struct PrintStyle {
  bool raw = false;     // the record as stored, header and padding included
  bool hexIds = false;  // process and thread ids in hex, as stored
  bool color = false;   // ANSI colours (for a terminal)
};

// One output line (with its newline). Readable form:
//   000014 2024-05-01 12:34:56   1234   1240 RDAX:Entry=RDAX_OpenDevice ...
// with the padding cut off and control bytes in the text shown as escapes
// (\r, \n, \t, \0, \xHH), so one record is always one line.
std::string FormatRecord(const TraceRecord& record, const PrintStyle& style);

}  // namespace q7m::traceview
