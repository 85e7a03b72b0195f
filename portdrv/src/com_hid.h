// ComHID: the transport for a reader attached as a USB HID device. Until
// the HID provider is part of this library, every HID operation answers as
// for a system without the HID libraries: the device search cannot be made,
// so no reader is found (12, "not supported").
#pragma once

#include "cls_device.h"

namespace q7m {

class ComHID : public clsDevice {
 public:
  explicit ComHID(const void* module) : clsDevice(module) {}

  uint32_t Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                uint32_t timeLimit) override;
  uint32_t Receive(uint8_t* buffer, uint32_t size, uint32_t* received, SessionKeyRecord* key,
                   uint32_t timeLimit) override;
  uint32_t Exists() override;
  uint32_t GetDeviceInfo(PDLNK_DEVICE_INFO* info) override;
  uint32_t OpenDevice(const char* devicePath, bool share) override;
  uint32_t GetDevicePath(const char* deviceName, bool share, char* path) override;
  uint32_t MakeResource(const char* devicePath) override;
};

}  // namespace q7m
