#include "device_selector.h"

#include <cstring>

namespace q7m {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

DeviceSelector ParseDeviceSelector(const char* deviceName) {
  DeviceSelector result;
  if (deviceName == nullptr) return result;
  const char* colon = std::strchr(deviceName, ':');
  const char* selector = colon != nullptr ? colon + 1 : deviceName;
  std::string text(selector, strnlen(selector, kMaxSelectorLength));

  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  text = text.substr(begin, end - begin);

  const size_t comma = text.find(',');
  std::string serial = text.substr(0, comma);
  while (!serial.empty() && IsBlank(serial.back())) serial.pop_back();
  result.serialNumber = serial;
  if (comma == std::string::npos) return result;
  const size_t filterBegin = text.find_first_not_of(',', comma);
  if (filterBegin == std::string::npos) return result;
  const size_t filterEnd = text.find(',', filterBegin);
  result.filterList = text.substr(
      filterBegin, filterEnd == std::string::npos ? std::string::npos : filterEnd - filterBegin);
  return result;
}

}  // namespace q7m
