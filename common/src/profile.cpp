// Reading values from the profile: text, integers and switches, each with
// the registry as the second source behind a "REG" + key entry.
#include "q7m/common/profile.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "q7m/platform_sys.h"
#include "registry_reference.h"

namespace q7m {

namespace {

constexpr uint32_t kIntegerText = 512;
constexpr uint32_t kReferenceText = 1024;

uint32_t PlaceDefault(const char* value, char* buffer, uint32_t capacity) {
  size_t n = value ? std::strlen(value) : 0;
  if (n > capacity - 1) n = capacity - 1;
  if (n > 0) std::memcpy(buffer, value, n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number as the profile reads it: it must start with a decimal digit;
// "0x..." of more than 3 characters is hexadecimal up to the first other
// character; anything else is decimal as the C library reads it (so "0x1"
// is 0 and "12ab" is 12). Decimal values beyond 32 bits are clamped, as the
// 32-bit conversion of the original platform does.
bool ParseNumber(const char* text, int32_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  if (std::strlen(text) > 3 && text[0] == '0' && text[1] == 'x') {
    uint32_t v = 0;
    for (const char* p = text + 2; HexDigit(*p) >= 0; ++p) {
      v = (v << 4) | static_cast<uint32_t>(HexDigit(*p));
    }
    *value = static_cast<int32_t>(v);
    return true;
  }
  long long v = std::strtoll(text, nullptr, 10);
  if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

bool Profile::QueryRedirected(const char* section, const char* key, uint32_t* type, void* data,
                              uint32_t* size) const {
  if (path_.empty() || key == nullptr) return false;
  std::string regKey = std::string("REG") + key;
  char reference[kReferenceText];
  if (Q7M_GetPrivateProfileString(section, regKey.c_str(), "", reference, sizeof reference,
                                  path_.c_str()) == 0) {
    return false;
  }
  return QueryRegistryReference(reference, type, data, size);
}

uint32_t Profile::GetString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, uint32_t capacity) const {
  if (buffer == nullptr || capacity == 0) return 0;
  if (!path_.empty() && section != nullptr && key != nullptr) {
    uint32_t n = Q7M_GetPrivateProfileString(section, key, "", buffer, capacity, path_.c_str());
    if (n > 0) return n;
    uint32_t type = Q7M_REG_NONE;
    uint32_t size = capacity;
    if (QueryRedirected(section, key, &type, buffer, &size) && type == Q7M_REG_SZ && size > 0) {
      buffer[size - 1] = '\0';  // a stored string always ends in its zero; make sure
      return static_cast<uint32_t>(std::strlen(buffer));
    }
  }
  return PlaceDefault(defaultValue, buffer, capacity);
}

int32_t Profile::GetInteger(const char* section, const char* key, int32_t defaultValue) const {
  char text[kIntegerText];
  GetString(section, key, "", text, sizeof text);
  int32_t value = 0;
  if (ParseNumber(text, &value)) return value;

  uint32_t type = Q7M_REG_NONE;
  uint32_t number = 0;
  uint32_t size = sizeof number;
  if (QueryRedirected(section, key, &type, &number, &size) && type == Q7M_REG_DWORD &&
      size == sizeof number) {
    return static_cast<int32_t>(number);
  }
  return defaultValue;
}

bool Profile::GetSwitch(const char* section, const char* key, bool defaultValue) const {
  char text[kIntegerText];
  GetString(section, key, defaultValue ? "ON" : "OFF", text, sizeof text);
  return strcasecmp(text, "OFF") != 0;
}

}  // namespace q7m
