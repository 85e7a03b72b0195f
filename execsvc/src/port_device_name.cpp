#include "port_device_name.h"

#include <cstdio>
#include <cstring>

#include "q7m/platform.h"

namespace q7m {

namespace {

uint32_t BuildSerialName(const char* name, const SEQUOR_OPEN_PARAMS* params, PortDeviceName* out) {
  // One digit names the port: COM1 to COM9 (COM12 is port 1).
  const char digit = name[3];
  if (digit < '0' || digit > '9') return Q7M_ERROR_INVALID_NAME;
  if (params == nullptr) return Q7M_ERROR_INVALID_DATA;
  const auto speed = static_cast<int32_t>(static_cast<uint32_t>(params->countOrSpeed));
  std::snprintf(out->text, sizeof out->text, "COM%d:%d", digit - '0', speed);
  out->serial = true;
  return 0;
}

uint32_t BuildUsbName(const char* name, const SEQUOR_OPEN_PARAMS* params, PortDeviceName* out) {
  size_t used = static_cast<size_t>(
      std::snprintf(out->text, sizeof out->text, "USB:%s", name != nullptr ? name : ""));
  out->serial = false;
  if (params == nullptr || params->productIds == 0) return 0;
  const uint32_t count = static_cast<uint32_t>(params->countOrSpeed) & 0xFFFFu;
  if (count == 0) return 0;
  if (count > SEQUOR_MAX_PRODUCT_IDS) return Q7M_ERROR_INVALID_DATA;

  const auto* ids = reinterpret_cast<const uint16_t*>(params->productIds);
  size_t listLength = 1;  // the comma
  out->text[used] = ',';
  for (uint32_t i = 0; i < count; ++i) {
    char item[8];
    const int n = std::snprintf(item, sizeof item, "%u ", static_cast<unsigned>(ids[i]));
    if (listLength + static_cast<size_t>(n) > kMaxIdentifierListLength)
      return Q7M_ERROR_INVALID_DATA;
    std::memcpy(out->text + used + listLength, item, static_cast<size_t>(n));
    listLength += static_cast<size_t>(n);
  }
  out->text[used + listLength] = '\0';
  return 0;
}

}  // namespace

uint32_t BuildPortDeviceName(const char* name, const SEQUOR_OPEN_PARAMS* params,
                             PortDeviceName* out) {
  out->text[0] = '\0';
  if (name != nullptr && strnlen(name, SEQUOR_MAX_NAME_LENGTH) >= SEQUOR_MAX_NAME_LENGTH)
    return Q7M_ERROR_INVALID_NAME;
  if (name != nullptr && std::strncmp(name, "COM", 3) == 0)
    return BuildSerialName(name, params, out);
  return BuildUsbName(name, params, out);
}

}  // namespace q7m
