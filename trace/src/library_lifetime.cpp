// Attaching the trace library to a process and detaching it again.
#include "handle_registry.h"

namespace {

// How long leaving the process may wait for threads still inside an export
// (and for the ring locks of the detach records). Bounded so that a thread
// stuck behind a ring lock can never keep the process from ending.
constexpr uint32_t kDetachWaitLimitMs = 10000;

__attribute__((constructor)) void AttachTraceLibrary() {
  q7m::trace::HandleRegistry::Instance().Attach(reinterpret_cast<const void*>(&AttachTraceLibrary));
}

__attribute__((destructor)) void DetachTraceLibrary() {
  q7m::trace::HandleRegistry::Instance().Detach(kDetachWaitLimitMs);
}

}  // namespace
