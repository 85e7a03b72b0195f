// A hidraw device's identity from what the kernel's device tree says about
// its USB device: the sysfs attribute texts and the report descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_identity.h"

namespace q7m::hid::hidraw {

// Attribute texts as sysfs gives them (ids and version in hexadecimal,
// strings in UTF-8); null when the attribute is absent.
struct UsbAttributes {
  const char* idVendor = nullptr;
  const char* idProduct = nullptr;
  const char* bcdDevice = nullptr;
  const char* manufacturer = nullptr;
  const char* product = nullptr;
  const char* serial = nullptr;
};

// false when vendor or product id is missing or not a 16-bit hexadecimal
// number. A missing version reads as 0 and missing strings as empty; a
// descriptor that is absent or does not parse leaves the report lengths
// unknown (the device can still be listed and filtered).
bool IdentityFromAttributes(const UsbAttributes& attributes, const uint8_t* descriptor,
                            size_t descriptorSize, DeviceIdentity* identity);

}  // namespace q7m::hid::hidraw
