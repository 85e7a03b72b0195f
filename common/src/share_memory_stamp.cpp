#include "share_memory_stamp.h"

#include <atomic>

#include "q7m/platform_sys.h"

namespace q7m {

uint32_t NewLockStamp() {
  static std::atomic<uint32_t> last{0};
  uint32_t previous = last.load(std::memory_order_relaxed);
  uint32_t stamp;
  do {
    stamp = Q7M_GetTickCount();
    // Keep stamps moving forward within the process (with the wrap of the
    // 32-bit counter) and off 0, which marks "never stamped".
    if (static_cast<int32_t>(stamp - previous) <= 0) stamp = previous + 1;
    if (stamp == 0) stamp = 1;
  } while (!last.compare_exchange_weak(previous, stamp, std::memory_order_relaxed));
  return stamp;
}

}  // namespace q7m
