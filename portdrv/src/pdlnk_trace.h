// The port driver's trace bits: each kind of line is written only when its
// bit is set in the mask the trace library gives for this library.
#pragma once

#include <cstdint>

#include "q7m/trace_client.h"

namespace q7m {

constexpr uint32_t kTraceTransferDump = 0x001;  // "S:" / "R:"
constexpr uint32_t kTraceExport = 0x002;        // "T:" / "F:"
constexpr uint32_t kTraceMessageDump = 0x004;   // "CMD:" / "RES:"
constexpr uint32_t kTraceLineError = 0x008;     // serial line errors
constexpr uint32_t kTraceHidError = 0x020;      // "E:" of ComHID and clsFindHID
constexpr uint32_t kTraceDeviceError = 0x040;   // "E:" of clsDevice and clsComList
constexpr uint32_t kTraceHidInfo = 0x080;       // "I:" of ComHID and clsFindHID
constexpr uint32_t kTraceDeviceInfo = 0x100;    // "I:" of clsDevice and clsComList

// Trace arguments are printed with %lX: widen 32-bit values explicitly.
inline unsigned long TraceValue(uint32_t v) {
  return static_cast<unsigned long>(v);
}
inline unsigned long TraceValue(int v) {
  return static_cast<unsigned long>(static_cast<uint32_t>(v));
}

}  // namespace q7m
