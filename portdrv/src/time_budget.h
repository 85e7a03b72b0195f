// A time limit in milliseconds that is used up as an exchange goes on. All
// ones never expires.
#pragma once

#include <cstdint>

#include "q7m/platform_sys.h"

namespace q7m {

class TimeBudget {
 public:
  explicit TimeBudget(uint32_t limit)
      : left_(limit), infinite_(limit == Q7M_INFINITE), mark_(Q7M_GetTickCount()) {}

  // Subtracts the time passed since the previous update (not below 0).
  void Update() {
    const uint32_t now = Q7M_GetTickCount();
    const uint32_t elapsed = now - mark_;  // wraps correctly
    mark_ = now;
    if (!infinite_) left_ = left_ > elapsed ? left_ - elapsed : 0;
  }
  uint32_t left() const { return left_; }

 private:
  uint32_t left_;
  bool infinite_;
  uint32_t mark_;
};

}  // namespace q7m
