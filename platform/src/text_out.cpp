#include "text_out.h"

#include <cstring>
#include <limits>

#include "q7m/platform_sys.h"

namespace q7m::platform {

uint32_t CopyTextCut(std::string_view text, char* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  size_t n = text.size();
  if (n > size - 1) {
    n = size - 1;
    Q7M_SetLastError(Q7M_ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

uint32_t CopyTextOrNeed(std::string_view text, char* buffer, uint32_t size) {
  if (text.size() >= std::numeric_limits<uint32_t>::max()) {
    Q7M_SetLastError(Q7M_ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  uint32_t needed = static_cast<uint32_t>(text.size()) + 1;
  if (buffer == nullptr || size < needed) return needed;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return needed - 1;
}

}  // namespace q7m::platform
