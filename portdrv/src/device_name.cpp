#include "device_name.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace q7m {

TransportKind ChooseTransport(const char* deviceName) {
  if (deviceName != nullptr && std::strspn(deviceName, "COM") > 0) return TransportKind::kSerial;
  return TransportKind::kHid;
}

SerialName ParseSerialName(const char* deviceName) {
  SerialName result;
  if (deviceName == nullptr) return result;
  const char* colon = std::strchr(deviceName, ':');
  if (colon == nullptr) {
    result.portName = deviceName;
    return result;
  }
  result.portName.assign(deviceName, static_cast<size_t>(colon - deviceName));
  const char* baud = colon + 1;
  if (*baud == '\0') return result;
  // strtol instead of atoi: an out-of-range value must not be undefined.
  errno = 0;
  long value = std::strtol(baud, nullptr, 10);
  if (errno == ERANGE || value > INT32_MAX || value < INT32_MIN) value = -1;
  if (value != 0) {
    result.baudGiven = true;
    result.baudRate = static_cast<int32_t>(value);
  }
  return result;
}

std::string DefaultSerialDevicePath(const std::string& portName) {
  if (portName.size() < 4 || portName.compare(0, 3, "COM") != 0) return {};
  const std::string digits = portName.substr(3);
  if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return {};
  const long number = std::strtol(digits.c_str(), nullptr, 10);
  if (number < 1) return {};
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace q7m
