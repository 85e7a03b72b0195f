#include "q7m/common/object_name.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "q7m/platform_sys.h"

namespace q7m {

std::string ComposeObjectName(const char* base, const char* suffix) {
  const size_t prefixLength = sizeof kObjectNamePrefix - 1;
  const size_t baseLength = base ? std::strlen(base) : 0;
  const size_t suffixLength = suffix ? std::strlen(suffix) : 0;
  // Cut the base from the front: its end (a file name, a device number)
  // is what tells objects apart.
  const size_t total = prefixLength + baseLength + suffixLength;
  const size_t drop = total > kMaxObjectName ? std::min(total - kMaxObjectName, baseLength) : 0;

  std::string name;
  name.reserve(total - drop);
  name.append(kObjectNamePrefix, prefixLength);
  size_t start = name.size();
  if (baseLength > drop) name.append(base + drop, baseLength - drop);
  // A backslash would mean a namespace separator to the system.
  std::replace(name.begin() + static_cast<std::ptrdiff_t>(start), name.end(), '\\', '\t');
  if (suffixLength) name.append(suffix, suffixLength);
  return name;
}

const char* clsNamedObject::MakeName(const char* base, const char* suffix) {
  uint32_t lastError = Q7M_GetLastError();
  try {
    name_ = ComposeObjectName(base, suffix);
  } catch (const std::bad_alloc&) {
    name_.clear();
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Q7M_SetLastError(lastError);
  return name_.c_str();
}

void clsNamedObject::FreeName() {
  uint32_t lastError = Q7M_GetLastError();
  std::string().swap(name_);
  Q7M_SetLastError(lastError);
}

}  // namespace q7m
