// File paths from the profile: a directory key (with the $EXEPATH, $DLLPATH
// and $INIPATH macros) and a file-name key, made into one full path.
#include <strings.h>

#include <string>

#include "module_location.h"
#include "q7m/common/path_util.h"
#include "q7m/common/profile.h"
#include "q7m/platform_sys.h"

namespace q7m {

namespace {

constexpr uint32_t kWorkArea = 1024;
constexpr size_t kMacroLength = 8;

uint32_t PlaceText(const std::string& text, char* buffer, uint32_t capacity) {
  size_t n = text.size() < capacity ? text.size() : capacity - 1;
  text.copy(buffer, n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

}  // namespace

std::string Profile::ExpandMacro(const std::string& value) const {
  if (value.size() < kMacroLength) return value;
  std::string macro = value.substr(0, kMacroLength);
  std::string dir;
  if (strcasecmp(macro.c_str(), "$EXEPATH") == 0) {
    dir = ModuleDirectory(nullptr);
  } else if (strcasecmp(macro.c_str(), "$DLLPATH") == 0) {
    dir = ModuleDirectory(module_);
  } else if (strcasecmp(macro.c_str(), "$INIPATH") == 0) {
    dir = PathDirectory(path_);
  } else {
    return value;
  }
  // The directory ends with its separator; the rest follows directly
  // ("$EXEPATHlogs" is <exe dir>/logs).
  return dir + value.substr(kMacroLength);
}

uint32_t Profile::GetFilePath(const char* section, const char* pathKey, const char* nameKey,
                              char* buffer, uint32_t capacity, const char* defaultValue) const {
  if (buffer == nullptr || capacity == 0) return 0;
  std::string fallback = defaultValue ? defaultValue : "";

  char text[kWorkArea];
  uint32_t n = GetString(section, pathKey, "", text, sizeof text);
  std::string work(text, n);
  if (!work.empty()) {
    work = ExpandMacro(work);
    char last = work.back();
    if (last != ':' && !IsPathSeparator(last) && work.size() + 1 < kWorkArea) work.push_back('/');
  }
  if (work.size() + 1 >= kWorkArea) return PlaceText(fallback, buffer, capacity);
  n = GetString(section, nameKey, "", text, static_cast<uint32_t>(kWorkArea - work.size()));
  if (n == 0) return PlaceText(fallback, buffer, capacity);
  work.append(text, n);

  // Names written for the original platform may use '\' between parts.
  uint32_t length = Q7M_GetFullPathName(PathToNative(work).c_str(), buffer, capacity);
  if (length == 0 || length >= capacity) return PlaceText(fallback, buffer, capacity);
  return length;
}

}  // namespace q7m
