#include "device_key.h"

namespace q7m {

void DeriveDeviceKey(const char* path, char* key) {
  size_t out = 0;
  for (size_t in = 0; in < kMaxDevicePathLength && path[in] != '\0'; ++in) {
    if (path[in] == '\\') continue;
    if (out == kDeviceKeyCapacity) break;
    key[out++] = path[in];
  }
  key[out] = '\0';
}

}  // namespace q7m
