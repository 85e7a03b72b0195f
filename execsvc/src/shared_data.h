// SharedData: the block every process that opens a device maps. Its layout
// is an inter-process format and must be the same in every build, so each
// offset is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m {

constexpr uint32_t kDevicePathCapacity = 260;
constexpr uint32_t kStoredCommandCapacity = 2056;
constexpr uint32_t kStoredResponseCapacity = 1024;

struct SharedData {
  char deviceName[kDevicePathCapacity];  // zero-terminated device path, zero after a reset
  uint32_t result;
  uint32_t reserved264;
  uint8_t command[kStoredCommandCapacity];
  uint32_t commandLength;
  uint8_t response[kStoredResponseCapacity];
  uint32_t responseLength;
  uint32_t reserved3356;
  uint32_t reserved3360;
  uint32_t openCount;  // MemObjects of all processes attached to the block
  uint32_t reserved3368[5];
};

static_assert(sizeof(SharedData) == 3388);
static_assert(offsetof(SharedData, result) == 260);
static_assert(offsetof(SharedData, command) == 268);
static_assert(offsetof(SharedData, commandLength) == 2324);
static_assert(offsetof(SharedData, response) == 2328);
static_assert(offsetof(SharedData, responseLength) == 3352);
static_assert(offsetof(SharedData, openCount) == 3364);
static_assert(offsetof(SharedData, reserved3368) == 3368);

// Writes the initial values: the given device path (null: all zero), zero
// result, buffers and count, and the constant reserved words.
void InitializeSharedData(SharedData* data, const char* devicePath);

}  // namespace q7m
