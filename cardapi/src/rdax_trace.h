// The API library's trace bits: each kind of line is written only when its
// bit is set in the mask the trace library gives for this library.
#pragma once

#include <cstdint>

#include "q7m/trace_client.h"

namespace q7m::rdax {

constexpr uint32_t kTraceFatal = 0x1;  // fatal lines, attach and detach
constexpr uint32_t kTraceError = 0x2;
constexpr uint32_t kTraceWarning = 0x4;
constexpr uint32_t kTraceEntryExit = 0x10;

// Trace lines print handles, pointers and values as 32-bit words: the lines
// keep one width on every platform, and the low half identifies a pointer
// well enough in a trace.
inline unsigned TraceWord(uintptr_t value) {
  return static_cast<unsigned>(value);
}

}  // namespace q7m::rdax
