// One command exchange with the reader: drain stale input, send, store the
// command, receive (until the reader's "E" for the end-of-transmission
// command), store the response and the result. Synchronous on the caller's
// thread, or asynchronous on a worker thread that signals the caller's event.
#pragma once

#include <cstdint>

#include "device_session.h"

namespace q7m {

struct ExecuteRequest {
  DeviceSession* session;
  const char* command;
  uint32_t commandLength;
  uint32_t sendTimeout;  // seconds
  char* response;
  uint32_t responseCapacity;
  uint32_t* responseLength;
  uint32_t receiveTimeout;     // seconds, for each receive
  Q7M_HANDLE completionEvent;  // null: synchronous
};

// The argument checks, in their order: 0, 1 (a null pointer) or 11.
uint32_t CheckExecuteArguments(const ExecuteRequest& request);

// Runs one exchange on this thread and gives its result. A synchronous
// exchange (no completion event) writes the exit trace line.
uint32_t ExecuteMain(const ExecuteRequest& request);

// Starts ExecuteMain on a worker thread for a request with a completion
// event: SEQUOR_ASYNC_STARTED, or SEQUOR_SYSTEM_ERROR with the last error when
// it cannot be started. The
// worker keeps the session in use until its exchange has ended and lets it
// go before it signals the event.
uint32_t StartAsyncExecute(const ExecuteRequest& request);

// Cancels the session's running exchange and runs the end-of-transmission
// exchange; its result.
uint32_t CancelExchange(DeviceSession* session);

}  // namespace q7m
