#include "shared_data.h"

#include <cstring>

namespace q7m {

void InitializeSharedData(SharedData* data, const char* devicePath) {
  std::memset(data, 0, sizeof *data);
  if (devicePath != nullptr) {
    // Keep a terminator: other processes read the name as a C string.
    std::strncpy(data->deviceName, devicePath, kDevicePathCapacity - 1);
  }
  // Constant words older readers of the block expect; never read here.
  static constexpr uint32_t kReservedTail[5] = {3, 1, 3, 10, 30};
  std::memcpy(data->reserved3368, kReservedTail, sizeof kReservedTail);
}

}  // namespace q7m
