// Worker threads, sleeping and yielding.
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "q7m/platform_sys.h"

namespace {

struct ThreadStart {
  Q7M_THREAD_PROC proc;
  void* argument;
};

void* RunThread(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.proc(start.argument);
  return nullptr;
}

}  // namespace

extern "C" {

Q7M_EXPORT int Q7M_API Q7M_StartThread(Q7M_THREAD_PROC proc, void* argument) {
  if (!proc) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto* start = new (std::nothrow) ThreadStart{proc, argument};
  if (!start) {
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, RunThread, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    // EAGAIN here means "no resources for another thread", not "try later".
    Q7M_SetLastError(rc == EAGAIN ? Q7M_ERROR_NOT_ENOUGH_MEMORY : Q7M_Win32ErrorFromErrno(rc));
    return 0;
  }
  return 1;
}

Q7M_EXPORT void Q7M_API Q7M_Sleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == Q7M_INFINITE) {
    for (;;) pause();
  }
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1'000'000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

Q7M_EXPORT void Q7M_API Q7M_SwitchToThread(void) {
  sched_yield();
}

}  // extern "C"
