// GetPrivateProfileStringA over INI files. The file is read anew on every
// call so that edits take effect at once, exactly as on Win32.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bounded_file.h"
#include "ini_text.h"
#include "q7m/platform_sys.h"

namespace {

using q7m::platform::FindIniValue;
using q7m::platform::ListIniKeys;
using q7m::platform::ListIniSections;

// A value (or the default) cut to size-1 characters.
uint32_t PlaceValue(std::string_view value, char* buffer, uint32_t size) {
  size_t n = value.size() < size ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

// A list of names, each zero-terminated, with one more zero at the end. When
// it does not fit, the last name is cut and followed by two zeros, and the
// result is size-2 (the Win32 enumeration form).
uint32_t PlaceList(const std::vector<std::string_view>& names, char* buffer, uint32_t size) {
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  size_t used = 0;
  for (std::string_view name : names) {
    if (used + name.size() + 2 > size) {
      size_t room = size - 2 - used;
      std::memcpy(buffer + used, name.data(), room);
      buffer[size - 2] = '\0';
      buffer[size - 1] = '\0';
      return size - 2;
    }
    std::memcpy(buffer + used, name.data(), name.size());
    used += name.size();
    buffer[used++] = '\0';
  }
  buffer[used] = '\0';
  if (used == 0) buffer[1] = '\0';
  return static_cast<uint32_t>(used);
}

}  // namespace

extern "C" Q7M_EXPORT uint32_t Q7M_API Q7M_GetPrivateProfileString(const char* section,
                                                                   const char* key,
                                                                   const char* defaultValue,
                                                                   char* buffer, uint32_t size,
                                                                   const char* iniPath) {
  if (size == 0) return 0;
  if (buffer == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Win32 strips trailing blanks from the default; callers that pass "x "
  // get "x" whether or not the key exists.
  std::string_view fallback = q7m::platform::TrimTrailingBlanks(defaultValue ? defaultValue : "");

  std::string text;
  uint32_t readResult =
      iniPath && *iniPath
          ? q7m::platform::ReadBoundedFile(iniPath, q7m::platform::kMaxConfigFileBytes, &text)
          : Q7M_ERROR_FILE_NOT_FOUND;
  if (section == nullptr || key == nullptr) {
    // Enumeration: section names (no section) or key names (no key).
    std::vector<std::string_view> names;
    if (readResult == Q7M_ERROR_SUCCESS) {
      if (section == nullptr) {
        ListIniSections(text, &names);
      } else {
        ListIniKeys(text, section, &names);
      }
    } else {
      Q7M_SetLastError(readResult);
    }
    return PlaceList(names, buffer, size);
  }

  std::string_view value;
  if (readResult != Q7M_ERROR_SUCCESS) {
    Q7M_SetLastError(readResult);
    return PlaceValue(fallback, buffer, size);
  }
  if (!FindIniValue(text, section, key, &value)) return PlaceValue(fallback, buffer, size);
  return PlaceValue(q7m::platform::StripQuotes(value), buffer, size);
}
