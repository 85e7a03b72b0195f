#include "thread_id.h"

#include <pthread.h>
#include <unistd.h>

namespace q7m::platform {

namespace {

thread_local uint32_t tThreadId = 0;

// After fork the only thread of the child has a new id, but its cache still
// holds the parent's.
[[maybe_unused]] const int kForkHook = pthread_atfork(nullptr, nullptr, [] { tThreadId = 0; });

}  // namespace

uint32_t CurrentThreadId() {
  if (tThreadId == 0) tThreadId = static_cast<uint32_t>(gettid());
  return tThreadId;
}

}  // namespace q7m::platform
