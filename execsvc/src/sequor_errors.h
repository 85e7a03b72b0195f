// Win32 error numbers this library reports that the platform header does not
// name (the numbering is part of the interface).
#pragma once

#include <cstdint>

#include "q7m/last_error_keeper.h"
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

}  // namespace q7m
