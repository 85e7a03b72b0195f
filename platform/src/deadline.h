// A wait's time limit as a point on the monotonic clock, so a wait that is
// interrupted or woken without result keeps its original limit instead of
// starting over.
#pragma once

#include <time.h>

#include <cstdint>

#include "q7m/platform.h"

namespace q7m::platform {

class Deadline {
 public:
  static Deadline After(uint32_t milliseconds) {
    Deadline d;
    if (milliseconds == Q7M_INFINITE) {
      d.infinite_ = true;
      return d;
    }
    clock_gettime(CLOCK_MONOTONIC, &d.at_);
    d.at_.tv_sec += milliseconds / 1000;
    d.at_.tv_nsec += static_cast<long>(milliseconds % 1000) * 1'000'000L;
    if (d.at_.tv_nsec >= 1'000'000'000L) {
      d.at_.tv_nsec -= 1'000'000'000L;
      d.at_.tv_sec += 1;
    }
    return d;
  }

  bool infinite() const { return infinite_; }
  // The absolute limit on CLOCK_MONOTONIC (meaningless when infinite).
  const timespec& absolute() const { return at_; }

  // The time left, as a relative timeout for ppoll: null when infinite, zero
  // once the limit has passed.
  const timespec* Remaining(timespec* buffer) const {
    if (infinite_) return nullptr;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    buffer->tv_sec = at_.tv_sec - now.tv_sec;
    buffer->tv_nsec = at_.tv_nsec - now.tv_nsec;
    if (buffer->tv_nsec < 0) {
      buffer->tv_nsec += 1'000'000'000L;
      buffer->tv_sec -= 1;
    }
    if (buffer->tv_sec < 0) buffer->tv_sec = buffer->tv_nsec = 0;
    return buffer;
  }

  bool Passed() const {
    if (infinite_) return false;
    timespec left;
    Remaining(&left);
    return left.tv_sec == 0 && left.tv_nsec == 0;
  }

 private:
  bool infinite_ = false;
  timespec at_{};
};

}  // namespace q7m::platform
