#include "robust_mutex.h"

#include <cerrno>

#include "q7m/platform_sys.h"

#if defined(__SANITIZE_THREAD__)
#define Q7M_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define Q7M_TSAN 1
#endif
#endif
#ifdef Q7M_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace q7m::platform {

namespace {

// The thread sanitizer does not intercept pthread_mutex_clocklock; tell it
// about the lock (as a try-lock, since a time limit can end it) so that the
// later unlock matches.
int ClockLock(pthread_mutex_t* mutex, const timespec* at) {
#ifdef Q7M_TSAN
  __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
  int rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, at);
  bool locked = rc == 0 || rc == EOWNERDEAD;
  __tsan_mutex_post_lock(mutex, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed),
                         0);
  return rc;
#else
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, at);
#endif
}

}  // namespace

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
      rc = ClockLock(mutex, &deadline.absolute());
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
