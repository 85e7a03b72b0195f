// The last-error value: one per thread, shared by every library of the
// process because they all call into this one shared object.
#include <cerrno>

#include "q7m/platform_sys.h"

namespace {
thread_local uint32_t tLastError = 0;
}

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_GetLastError(void) {
  return tLastError;
}

Q7M_EXPORT void Q7M_API Q7M_SetLastError(uint32_t code) {
  tLastError = code;
}

Q7M_EXPORT uint32_t Q7M_API Q7M_SetLastErrorFromErrno(void) {
  uint32_t code = Q7M_Win32ErrorFromErrno(errno);
  tLastError = code;
  return code;
}

}  // extern "C"
