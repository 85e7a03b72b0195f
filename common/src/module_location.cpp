#include "module_location.h"

#include <vector>

#include "q7m/common/path_util.h"
#include "q7m/platform_sys.h"

namespace q7m {

namespace {

constexpr uint32_t kFirstTry = 512;
constexpr uint32_t kLongestPath = 1u << 16;

// Calls a "cut to size-1" text function with growing buffers until the text
// is known to be whole.
template <typename Fill>
std::string WholeCutText(Fill fill) {
  for (uint32_t size = kFirstTry; size <= kLongestPath; size *= 2) {
    std::vector<char> buffer(size);
    uint32_t n = fill(buffer.data(), size);
    if (n == 0) return {};
    if (n < size - 1) return std::string(buffer.data(), n);
  }
  return {};
}

// Calls a "length, or size needed when too small" text function.
template <typename Fill>
std::string WholeSizedText(Fill fill) {
  uint32_t size = kFirstTry;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<char> buffer(size);
    uint32_t n = fill(buffer.data(), size);
    if (n == 0 || n > kLongestPath) return {};
    if (n < size) return std::string(buffer.data(), n);
    size = n;  // the size needed, terminator included
  }
  return {};
}

}  // namespace

std::string ModuleFilePath(const void* anchor) {
  return WholeCutText([anchor](char* buffer, uint32_t size) {
    return Q7M_GetModuleFileName(anchor, buffer, size);
  });
}

std::string ModuleDirectory(const void* anchor) {
  return PathDirectory(ModuleFilePath(anchor));
}

std::string ModuleBaseName(const void* anchor) {
  return WholeCutText([anchor](char* buffer, uint32_t size) {
    return Q7M_GetModuleBaseName(anchor, buffer, size);
  });
}

std::string FullPathOf(const std::string& path) {
  return WholeSizedText([&path](char* buffer, uint32_t size) {
    return Q7M_GetFullPathName(path.c_str(), buffer, size);
  });
}

std::string CurrentDirectory() {
  return WholeSizedText(
      [](char* buffer, uint32_t size) { return Q7M_GetCurrentDirectory(buffer, size); });
}

}  // namespace q7m
