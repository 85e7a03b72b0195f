// The device key: the name stem of every named object that SEQUOR keeps for
// one reader, derived from the device path the port driver reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m {

constexpr size_t kDeviceKeyCapacity = 256;  // characters, without the terminator
// Longest device path a session accepts (and copies into the key).
constexpr size_t kMaxDevicePathLength = 260;

// Copies at most kMaxDevicePathLength characters of `path`, drops every
// backslash and cuts the rest to kDeviceKeyCapacity characters. `key` holds
// kDeviceKeyCapacity + 1 characters.
void DeriveDeviceKey(const char* path, char* key);

}  // namespace q7m
