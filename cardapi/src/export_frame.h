// The frame every export runs in, written once and driven by a description
// of the export: its entry line, the null-handle check, the restriction
// check, the dispatch, the fatal or severity line and the exit line. The
// exports that call the execution service directly use the trace pieces
// around their own middle step.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "q7m/rdax.h"
#include "request.h"

namespace q7m::rdax {

// What an exit line adds after "RDAX:Exit=%s P1=0x%08lX".
enum class ExitExtra : uint8_t {
  kNone,
  kQ1Value,    // " Q1=0x%08lX": a value the export passes (a count, a record)
  kQ1Pointee,  // " Q1=0x%02lX": the 32-bit value an argument points to
  kQ2Text,     // " Q2=%s": the text an argument points to
};

// How the arguments after the handle become request parameters.
enum class Packing : uint8_t {
  kInOrder,     // one parameter per argument
  kThreeBytes,  // arguments 2-4 share parameter 2, one byte each
  kTwoBytes,    // arguments 2-3 share parameter 2, one byte each
};

struct ExportDesc {
  const char* api;  // the export's name without "RDAX_"
  // Operation code of a dispatched export; -1 for a direct one.
  int operation;
  // The argument fields of the lines, one letter per field from P1 on:
  // 'x' "0x%08lX", 'b' "0x%02lX", 's' "%s" (a text argument).
  const char* entryFields;
  // Those of the fatal and severity lines; null: as the entry line.
  const char* errorFields;
  // Refused with "restricted" while another session holds the restriction.
  bool guarded;
  ExitExtra exit = ExitExtra::kNone;
  // Which argument (0 = P1) the exit line's extra reads, and at most how
  // many characters of a text.
  uint8_t exitArgument = 0;
  uint8_t exitTextLength = 0;
  Packing packing = Packing::kInOrder;
  // Argument checks and copies of a dispatched export, run after the
  // restriction check on the filled request: 0 to dispatch, or the result
  // (not stored). Null: none.
  uint32_t (*prepare)(RdaxRequest& request) = nullptr;
};

// The argument words of one call, P1 (the handle) first.
using TraceValues = std::span<const uintptr_t>;

template <typename T>
uintptr_t Word(T* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}
inline uintptr_t Word(uint32_t value) {
  return value;
}
inline uintptr_t Word(uint8_t value) {
  return value;
}

void TraceEntry(const ExportDesc& desc, TraceValues values);
// The fatal line with the last error for RDAX_F_SYSTEM, else the severity
// line of the result (none for success).
void TraceOutcome(const ExportDesc& desc, uint32_t result, TraceValues values);
// The fatal line carrying `value` (a last-error value).
void TraceFatal(const ExportDesc& desc, uint32_t value, TraceValues values);
// The exit line; `p1` is normally the result.
void TraceExit(const ExportDesc& desc, uint32_t p1, uint32_t result, TraceValues values,
               uintptr_t q1 = 0);
// TraceOutcome and TraceExit; returns the result. Keeps the last error.
uint32_t FinishExport(const ExportDesc& desc, uint32_t result, TraceValues values,
                      uintptr_t q1 = 0);

// A dispatched export: `args` are its arguments after the handle, without
// the completion event.
uint32_t RunDispatchedExport(const ExportDesc& desc, const RDAX* handle, Q7M_HANDLE event,
                             std::initializer_list<uintptr_t> args);

}  // namespace q7m::rdax
