// Win32 error numbers this library reports that the platform header does not
// name (the numbering is part of the interface).
#pragma once

#include <cstdint>

#include "q7m/platform_sys.h"

namespace q7m {

constexpr uint32_t kErrorInvalidAccess = 12;  // ERROR_INVALID_ACCESS
constexpr uint32_t kErrorTooManyTcbs = 155;   // ERROR_TOO_MANY_TCBS
constexpr uint32_t kErrorBadDevice = 1200;    // ERROR_BAD_DEVICE

// Sets the last error and gives the system-failure result.
inline uint32_t SystemFailure(uint32_t lastError) {
  Q7M_SetLastError(lastError);
  return 1000;
}

// Restores the thread's last error when the scope ends, so cleanup after a
// failure leaves the error of the failure for the caller.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(Q7M_GetLastError()) {}
  ~LastErrorKeeper() { Q7M_SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  uint32_t saved_;
};

}  // namespace q7m
