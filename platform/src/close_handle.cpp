// Q7M_CloseHandle for every kind of handle.
#include "handle_table.h"
#include "owned_mutexes.h"
#include "q7m/platform.h"

extern "C" Q7M_EXPORT int Q7M_API Q7M_CloseHandle(Q7M_HANDLE handle) {
  // Mutexes left owned by threads that have ended are let go first, so
  // closing what looks like the last handle really is the last.
  q7m::platform::ReleaseOwnershipOfEndedThreads();
  return q7m::platform::RemoveHandle(handle) ? 1 : 0;
}
