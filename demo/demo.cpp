// q7m-demo: shows the platform layer at work between two processes.
//
// The parent creates a named mutex and a named event and starts a second
// copy of itself. The child takes the mutex and signals the event; the
// parent, woken by the event, asks for the mutex, which it gets only when
// the child lets it go. Every step is printed; the exit status is 0 when
// all of them happened in this order.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "q7m/platform_sys.h"

extern char** environ;

namespace {

constexpr const char kMutexName[] = "Global\\q7m-demo\\mutex";
constexpr const char kEventName[] = "Global\\q7m-demo\\child has the mutex";
constexpr uint32_t kLimitMs = 10000;
// How long the child keeps the mutex after signalling.
constexpr uint32_t kHoldMs = 500;

void Step(const char* who, const char* text) {
  std::printf("[%-6s %5u] %s\n", who, Q7M_GetCurrentProcessId(), text);
  std::fflush(stdout);
}

int Fail(const char* who, const char* what) {
  std::printf("[%-6s %5u] FAILED: %s (error %u)\n", who, Q7M_GetCurrentProcessId(), what,
              Q7M_GetLastError());
  std::fflush(stdout);
  return 1;
}

int RunChild() {
  const char* me = "child";
  Q7M_HANDLE mutex = Q7M_OpenMutex(kMutexName);
  Q7M_HANDLE event = Q7M_OpenEvent(kEventName);
  if (!mutex || !event) return Fail(me, "opening the parent's objects");
  Step(me, "opened the named mutex and the named event");
  if (Q7M_WaitForSingleObject(mutex, kLimitMs) != Q7M_WAIT_OBJECT_0)
    return Fail(me, "taking the mutex");
  Step(me, "took the mutex");
  if (!Q7M_SetEvent(event)) return Fail(me, "signalling the event");
  Step(me, "signalled the event; holding the mutex a little longer");
  Q7M_Sleep(kHoldMs);
  Step(me, "releasing the mutex");
  if (!Q7M_ReleaseMutex(mutex)) return Fail(me, "releasing the mutex");
  Q7M_CloseHandle(event);
  Q7M_CloseHandle(mutex);
  Step(me, "done");
  return 0;
}

int RunParent(const char* self) {
  const char* me = "parent";
  Q7M_HANDLE mutex = Q7M_CreateMutex(0, kMutexName);
  if (!mutex) return Fail(me, "creating the mutex");
  Q7M_HANDLE event = Q7M_CreateEvent(0, 0, kEventName);
  if (!event) return Fail(me, "creating the event");
  Step(me, "created the named mutex and the named (auto-reset) event");

  char* argv[] = {const_cast<char*>(self), const_cast<char*>("--child"), nullptr};
  pid_t child;
  if (posix_spawn(&child, self, nullptr, nullptr, argv, environ) != 0)
    return Fail(me, "starting the child process");
  Step(me, "started the child; waiting for the event");

  int result = 0;
  if (Q7M_WaitForSingleObject(event, kLimitMs) != Q7M_WAIT_OBJECT_0) {
    result = Fail(me, "waiting for the event");
  } else {
    Step(me, "event signalled: the child holds the mutex");
    if (Q7M_WaitForSingleObject(mutex, 0) != Q7M_WAIT_TIMEOUT) {
      result = Fail(me, "the mutex should still be the child's");
    } else {
      Step(me, "mutex is busy, as expected; waiting for it");
      uint32_t r = Q7M_WaitForSingleObject(mutex, kLimitMs);
      if (r == Q7M_WAIT_OBJECT_0) {
        Step(me, "got the mutex after the child released it");
        Q7M_ReleaseMutex(mutex);
      } else {
        result = Fail(me, r == Q7M_WAIT_ABANDONED_0 ? "the child abandoned the mutex"
                                                    : "waiting for the mutex");
      }
    }
  }

  int status = 0;
  if (result != 0) kill(child, SIGKILL);
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (result == 0) result = Fail(me, "the child did not finish cleanly");
  }
  Q7M_CloseHandle(event);
  Q7M_CloseHandle(mutex);
  Step(me, result == 0 ? "success" : "failure");
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return RunChild();
  // The child is this very program, whatever name it was started by.
  return RunParent("/proc/self/exe");
}
