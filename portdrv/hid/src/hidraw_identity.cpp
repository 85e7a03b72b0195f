#include "hidraw_identity.h"

#include <cerrno>
#include <cstdlib>

namespace q7m::hid::hidraw {

namespace {

bool ParseHex16(const char* text, uint16_t* value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (errno != 0 || *end != '\0' || v > 0xFFFF) return false;
  *value = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

bool IdentityFromAttributes(const UsbAttributes& attributes, const uint8_t* descriptor,
                            size_t descriptorSize, DeviceIdentity* identity) {
  DeviceIdentity result;
  if (!ParseHex16(attributes.idVendor, &result.vendorId) ||
      !ParseHex16(attributes.idProduct, &result.productId))
    return false;
  if (!ParseHex16(attributes.bcdDevice, &result.versionNumber)) result.versionNumber = 0;
  if (attributes.manufacturer != nullptr) result.manufacturer = attributes.manufacturer;
  if (attributes.product != nullptr) result.product = attributes.product;
  if (attributes.serial != nullptr) result.serialNumber = attributes.serial;
  result.layoutKnown =
      descriptor != nullptr && descriptorSize > 0 &&
      ParseReportDescriptor(descriptor, descriptorSize, &result.layout) == DescriptorError::kNone;
  *identity = std::move(result);
  return true;
}

}  // namespace q7m::hid::hidraw
