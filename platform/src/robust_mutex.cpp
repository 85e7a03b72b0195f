#include "robust_mutex.h"

#include <cerrno>

#include "q7m/platform_sys.h"

namespace q7m::platform {

int InitRobustMutex(pthread_mutex_t* mutex, bool processShared) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (rc == 0 && processShared) rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc;
}

LockResult LockRobustMutex(pthread_mutex_t* mutex, const Deadline& deadline) {
  int rc;
  if (deadline.infinite()) {
    rc = pthread_mutex_lock(mutex);
  } else {
    // A limit of zero still means "take it if it is free": trylock answers
    // without the clock, and without a spurious time-out when the limit
    // has just passed.
    rc = pthread_mutex_trylock(mutex);
    if (rc == EBUSY) {
      rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline.absolute());
    }
  }
  switch (rc) {
    case 0:
      return LockResult::kAcquired;
    case EOWNERDEAD:
      // We hold it now; whatever it protected is the new owner's to check.
      pthread_mutex_consistent(mutex);
      return LockResult::kAbandoned;
    case ETIMEDOUT:
    case EBUSY:
      return LockResult::kTimedOut;
    case EAGAIN:
      // Recursion limit reached.
      Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
      return LockResult::kFailed;
    default:
      Q7M_SetLastError(Q7M_Win32ErrorFromErrno(rc));
      return LockResult::kFailed;
  }
}

}  // namespace q7m::platform
