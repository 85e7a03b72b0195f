// Restores the thread's last-error value when the scope ends, so that
// cleanup after a failure (closing handles, trace writes) leaves the error
// of the failure for the caller.
#pragma once

#include <cstdint>

#include "q7m/platform.h"

namespace q7m {

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
