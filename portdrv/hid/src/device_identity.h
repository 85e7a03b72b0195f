// What the provider knows about one HID device, whichever back end it
// comes from.
#pragma once

#include <cstdint>
#include <string>

#include "report_descriptor.h"

namespace q7m::hid {

enum class Backend { kHidraw, kBus };

struct DeviceIdentity {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
  // UTF-8; empty when the device has no such string.
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  // The report lengths, when the report descriptor could be read and parsed.
  bool layoutKnown = false;
  ReportLayout layout;
};

}  // namespace q7m::hid
