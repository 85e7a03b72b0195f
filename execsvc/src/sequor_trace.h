// The execution service's trace bits: each kind of line is written only when
// its bit is set in the mask the trace library gives for this library.
#pragma once

#include <cstdint>

#include "q7m/trace_client.h"

namespace q7m {

constexpr uint32_t kTraceAttach = 0x1;         // attach and detach
constexpr uint32_t kTraceDeviceBusy = 0x2;     // "XfsLock: DEVICE BUSY"
constexpr uint32_t kTraceExchangeFault = 0x4;  // port-driver and store failures, cancel steps
constexpr uint32_t kTraceFlow = 0x8;           // entry/exit of the exchange and the cancel
constexpr uint32_t kTraceLockFault = 0x10000;  // data mutex, shared block and lock failures
constexpr uint32_t kTraceDataMutex = 0x20000;  // every take and give-back of the data mutex

// Trace lines print handles and addresses as 32-bit words ("0x%08X"): the
// low half identifies them well enough in a trace.
inline unsigned TraceWord(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace q7m
