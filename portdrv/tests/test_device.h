// A transport for testing the device table and the sharing machinery
// without a reader: its "device" is a plain file opened read/write, its
// Receive waits for the cancel event or its time limit, and it counts how
// many exchanges run at once.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "cls_device.h"
#include "pdlnk_result.h"

namespace q7mtest {

class TestDevice : public q7m::clsDevice {
 public:
  explicit TestDevice(const void* module) : clsDevice(module) {}

  uint32_t Send(const uint8_t* message, uint32_t length, q7m::SessionKeyRecord* key,
                uint32_t timeLimit) override {
    if (uint32_t r = IsCancel(); r != 0) return r;
    lastKey = key;
    const int now = ++running;
    if (now > maxRunning) maxRunning = now;
    // Long enough for a second caller to arrive while this one runs.
    Q7M_WaitForSingleObject(cancelEvent(), timeLimit < 20 ? timeLimit : 20);
    const ssize_t n = ::write(deviceHandle_, message, length);
    --running;
    return n == static_cast<ssize_t>(length) ? 0 : q7m::kPdSystemError;
  }
  uint32_t Receive(uint8_t*, uint32_t, uint32_t* received, q7m::SessionKeyRecord*,
                   uint32_t timeLimit) override {
    *received = 0;
    if (uint32_t r = IsCancel(); r != 0) return r;
    return Q7M_WaitForSingleObject(cancelEvent(), timeLimit) == Q7M_WAIT_OBJECT_0
               ? q7m::kPdCancelled
               : q7m::kPdTimeout;
  }
  uint32_t Exists() override { return ::fcntl(deviceHandle_, F_GETFD) >= 0 ? 0 : 1; }
  uint32_t GetDeviceInfo(PDLNK_DEVICE_INFO* info) override {
    std::memset(info, 0, sizeof *info);
    info->devicePath = path_;
    return 0;
  }
  uint32_t OpenDevice(const char* devicePath, bool) override {
    deviceHandle_ = ::open(devicePath, O_RDWR | O_CLOEXEC);
    if (deviceHandle_ < 0) return q7m::SystemError(Q7M_ERROR_FILE_NOT_FOUND);
    return 0;
  }
  uint32_t GetDevicePath(const char* deviceName, bool, char* path) override {
    if (deviceName == nullptr || std::strlen(deviceName) > q7m::kMaxDevicePath)
      return q7m::kPdNotFound;
    std::strcpy(path, deviceName);
    std::strcpy(path_, deviceName);
    return 0;
  }
  uint32_t MakeResource(const char*) override { return 0; }

  static std::atomic<int> running;
  static std::atomic<int> maxRunning;
  q7m::SessionKeyRecord* lastKey = nullptr;

 private:
  char path_[q7m::kMaxDevicePath + 1] = {};
};

inline q7m::clsDevice* MakeTestDevice(const char*, const void* module) {
  return new TestDevice(module);
}

}  // namespace q7mtest
