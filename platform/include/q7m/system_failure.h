// The one way a library reports "the system failed, the last error says
// why": every library's result code for it is 1000, with the last error set.
#pragma once

#include <cstdint>

#include "q7m/platform.h"

namespace q7m {

constexpr uint32_t kSystemFailureResult = 1000;

// Sets the last error and gives the system-failure result.
inline uint32_t SystemFailure(uint32_t lastError) {
  Q7M_SetLastError(lastError);
  return kSystemFailureResult;
}

}  // namespace q7m
