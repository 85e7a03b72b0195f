// Process and thread ids, whether a process lives, and taking over a
// descriptor of another process.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "q7m/platform_sys.h"
#include "thread_id.h"

namespace {

// The state letter of /proc/<pid>/stat ('Z' for a zombie), or 0.
char ProcessState(pid_t pid) {
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = fopen(path, "re");
  if (!f) return 0;
  char line[512];
  size_t n = fread(line, 1, sizeof line - 1, f);
  fclose(f);
  line[n] = '\0';
  // "pid (comm) S ...": comm may itself hold ')' or spaces, so look for the
  // last ')'.
  const char* close = strrchr(line, ')');
  if (!close || close[1] != ' ' || close[2] == '\0') return 0;
  return close[2];
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentProcessId(void) {
  return static_cast<uint32_t>(getpid());
}

Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentThreadId(void) {
  return q7m::platform::CurrentThreadId();
}

Q7M_EXPORT int Q7M_API Q7M_ProcessExists(uint32_t processId) {
  if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX)) return 0;
  pid_t pid = static_cast<pid_t>(processId);
  // EPERM: it exists but belongs to someone else.
  if (kill(pid, 0) != 0 && errno != EPERM) return 0;
  char state = ProcessState(pid);
  // Unreadable /proc entry: trust kill().
  return state != 'Z' && state != 'X' ? 1 : 0;
}

Q7M_EXPORT int Q7M_API Q7M_DuplicateProcessFd(uint32_t processId, int fd) {
  if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX) || fd < 0) {
    Q7M_SetLastError(processId == 0 || processId > static_cast<uint32_t>(INT_MAX)
                         ? Q7M_ERROR_INVALID_PARAMETER
                         : Q7M_ERROR_INVALID_HANDLE);
    return -1;
  }
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
  if (pidfd < 0) {
    int err = errno;
    Q7M_SetLastError(err == ESRCH || err == EINVAL ? Q7M_ERROR_INVALID_PARAMETER
                     : err == ENOSYS               ? Q7M_ERROR_NOT_SUPPORTED
                                                   : Q7M_Win32ErrorFromErrno(err));
    return -1;
  }
  int copy = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fd, 0));
  int err = errno;
  close(pidfd);
  if (copy >= 0) return copy;  // the kernel sets close-on-exec on it
  switch (err) {
    case EPERM:
      Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
      break;
    case EBADF:
      Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
      break;
    case ESRCH:
      Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
      break;
    case ENOSYS:
      Q7M_SetLastError(Q7M_ERROR_NOT_SUPPORTED);
      break;
    default:
      Q7M_SetLastError(Q7M_Win32ErrorFromErrno(err));
      break;
  }
  return -1;
}

}  // extern "C"
