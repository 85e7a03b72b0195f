// Robust, recursive pthread mutexes: the lock under every mutex object and
// the guard of every named event. A holder that dies leaves the mutex
// "owner died"; the next locker repairs it and learns that it was abandoned.
#pragma once

#include <pthread.h>

#include "deadline.h"

namespace q7m::platform {

// 0 or an errno value.
int InitRobustMutex(pthread_mutex_t* mutex, bool processShared);

enum class LockResult { kAcquired, kAbandoned, kTimedOut, kFailed };

// Locks with a time limit; an abandoned mutex is made consistent and counts
// as acquired (kAbandoned). kFailed sets the last error.
LockResult LockRobustMutex(pthread_mutex_t* mutex, const Deadline& deadline);

}  // namespace q7m::platform
