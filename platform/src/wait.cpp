// Waits on one or several objects. Events and I/O readiness handles are
// descriptors: one ppoll on all of them until the monotonic deadline, with
// no polling loop and nothing allocated. A mutex is a pthread mutex and is
// waited on alone.
#include <poll.h>

#include <cerrno>

#include "deadline.h"
#include "handle_table.h"
#include "mutex_object.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

uint32_t Failed(uint32_t error) {
  Q7M_SetLastError(error);
  return Q7M_WAIT_FAILED;
}

// ppoll that keeps its deadline across signals. Returns the number of ready
// descriptors, 0 at the deadline, -1 with the last error.
int PollUntil(pollfd* fds, nfds_t count, const Deadline& deadline) {
  for (;;) {
    timespec left;
    int n = ppoll(fds, count, deadline.Remaining(&left), nullptr);
    if (n >= 0) return n;
    if (errno != EINTR) {
      Q7M_SetLastErrorFromErrno();
      return -1;
    }
  }
}

// Any one object: the lowest index that is signalled (and, for an
// automatic-reset event, whose signal this waiter took).
uint32_t WaitAny(KernelObject* const* objects, pollfd* fds, uint32_t count,
                 const Deadline& deadline) {
  for (;;) {
    int ready = PollUntil(fds, count, deadline);
    if (ready < 0) return Q7M_WAIT_FAILED;
    if (ready == 0) return Q7M_WAIT_TIMEOUT;
    for (uint32_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      switch (objects[i]->Acquire(fds[i].revents)) {
        case AcquireResult::kAcquired:
          return Q7M_WAIT_OBJECT_0 + i;
        case AcquireResult::kFailed:
          return Q7M_WAIT_FAILED;
        case AcquireResult::kLost:
          break;
      }
    }
    // Every signal we saw was taken by another waiter; wait on.
    if (deadline.Passed()) return Q7M_WAIT_TIMEOUT;
  }
}

// All objects at once (level-triggered objects only, so looking consumes
// nothing): check all; if some are not signalled, sleep until one of those
// changes, then check all again.
uint32_t WaitAll(KernelObject* const* objects, pollfd* fds, uint32_t count,
                 const Deadline& deadline) {
  const Deadline now = Deadline::After(0);
  pollfd pending[Q7M_MAXIMUM_WAIT_OBJECTS];
  for (;;) {
    if (PollUntil(fds, count, now) < 0) return Q7M_WAIT_FAILED;
    nfds_t missing = 0;
    for (uint32_t i = 0; i < count; ++i) {
      AcquireResult r = fds[i].revents ? objects[i]->Acquire(fds[i].revents) : AcquireResult::kLost;
      if (r == AcquireResult::kFailed) return Q7M_WAIT_FAILED;
      if (r == AcquireResult::kLost) pending[missing++] = {fds[i].fd, fds[i].events, 0};
    }
    if (missing == 0) return Q7M_WAIT_OBJECT_0;
    int ready = PollUntil(pending, missing, deadline);
    if (ready < 0) return Q7M_WAIT_FAILED;
    if (ready == 0) return Q7M_WAIT_TIMEOUT;
  }
}

uint32_t WaitForObjects(uint32_t count, const Q7M_HANDLE* handles, bool waitAll,
                        uint32_t milliseconds) {
  if (count == 0 || count > Q7M_MAXIMUM_WAIT_OBJECTS || handles == nullptr)
    return Failed(Q7M_ERROR_INVALID_PARAMETER);
  for (uint32_t i = 0; i < count; ++i)
    for (uint32_t j = i + 1; j < count; ++j)
      if (handles[i] == handles[j]) return Failed(Q7M_ERROR_INVALID_PARAMETER);

  // The references keep every object alive while we wait, even if another
  // thread closes its handle meanwhile.
  ObjectRef refs[Q7M_MAXIMUM_WAIT_OBJECTS];
  KernelObject* objects[Q7M_MAXIMUM_WAIT_OBJECTS];
  pollfd fds[Q7M_MAXIMUM_WAIT_OBJECTS];
  for (uint32_t i = 0; i < count; ++i) {
    refs[i] = LookupHandle(handles[i]);
    if (!refs[i]) return Q7M_WAIT_FAILED;
    objects[i] = refs[i].get();
  }

  const Deadline deadline = Deadline::After(milliseconds);
  if (objects[0]->kind() == ObjectKind::kMutex && count == 1)
    return static_cast<MutexObject*>(objects[0])->Wait(milliseconds);

  for (uint32_t i = 0; i < count; ++i) {
    if (objects[i]->kind() == ObjectKind::kMutex) return Failed(Q7M_ERROR_NOT_SUPPORTED);
    if (!objects[i]->GetWaitFd(&fds[i].fd, &fds[i].events)) return Failed(Q7M_ERROR_INVALID_HANDLE);
    fds[i].revents = 0;
    if (waitAll && count > 1 && !objects[i]->IsLevelTriggered())
      return Failed(Q7M_ERROR_NOT_SUPPORTED);
  }
  if (waitAll && count > 1) return WaitAll(objects, fds, count, deadline);
  return WaitAny(objects, fds, count, deadline);
}

}  // namespace

}  // namespace q7m::platform

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_WaitForSingleObject(Q7M_HANDLE handle, uint32_t milliseconds) {
  return q7m::platform::WaitForObjects(1, &handle, false, milliseconds);
}

Q7M_EXPORT uint32_t Q7M_API Q7M_WaitForMultipleObjects(uint32_t count, const Q7M_HANDLE* handles,
                                                       int waitAll, uint32_t milliseconds) {
  return q7m::platform::WaitForObjects(count, handles, waitAll != 0, milliseconds);
}

}  // extern "C"
