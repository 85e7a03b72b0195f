// One API request as the dispatcher runs it, and the handlers that carry
// requests out, selected by operation code.
#pragma once

#include <cstdint>

#include "q7m/platform.h"
#include "q7m/rdax.h"

namespace q7m::rdax {

// Ten pointer-sized words: the handle, the caller's completion event (null:
// run on the caller's thread), the operation code and up to seven
// parameters in the export's argument order. Words an export does not set
// are zero.
struct RdaxRequest {
  uintptr_t handle;
  uintptr_t completionEvent;
  uintptr_t operation;
  uintptr_t param[7];

  const RDAX* device() const { return reinterpret_cast<const RDAX*>(handle); }
  Q7M_HANDLE event() const { return reinterpret_cast<Q7M_HANDLE>(completionEvent); }
};
static_assert(sizeof(RdaxRequest) == 10 * sizeof(uintptr_t));

// Operation codes (the dispatcher's table is indexed by them).
enum Operation : uint32_t {
  kOpSendCommand = 0,
  kOpExecuteDownload = 38,
  kOpNothing = 39,     // a handler that succeeds without doing anything
  kOpNotOffered = 48,  // a handler that answers "line error"
  kOperationCount = 54,
};

// Operations whose parameter 1 is a heap copy the request owns (the
// command of the raw pass-through, the download's file name).
inline bool OwnsParam1Copy(uintptr_t operation) {
  return operation == kOpSendCommand || operation == kOpExecuteDownload;
}

// A handler carries out one request on the calling thread and returns its
// result. Before returning an argument error it stores that error itself.
using Handler = uint32_t (*)(const RdaxRequest& request);

// The handler of an operation code; null where none is built.
Handler HandlerFor(uintptr_t operation);

// Runs a filled request: synchronously (result) or, with an event, on a
// worker thread (0x00000001). Takes ownership of the request's heap copy.
uint32_t RdaxDispatch(const RdaxRequest& request);

// Whether an operation of this process is in progress on the handle (set
// before its worker starts, cleared after its result is stored).
bool OperationInProgress(const RDAX* handle);

// A cancel runs on the handle from BeginCancel to EndCancel (after it stored
// its result): an operation of this process ending meanwhile stores its own
// result only after that.
void BeginCancel(const RDAX* handle);
void EndCancel(const RDAX* handle);

}  // namespace q7m::rdax
