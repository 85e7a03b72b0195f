#include "module_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

uint32_t ExecutablePath(std::string* path) {
  std::string buf(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return Q7M_Win32ErrorFromErrno(errno);
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      *path = std::move(buf);
      return Q7M_ERROR_SUCCESS;
    }
    if (buf.size() >= (size_t{1} << 20)) return Q7M_ERROR_FILENAME_EXCED_RANGE;
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

uint32_t ModulePathOf(const void* address, std::string* path) {
  if (address == nullptr) return ExecutablePath(path);
  Dl_info info{};
  struct link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      map == nullptr) {
    return Q7M_ERROR_MOD_NOT_FOUND;
  }
  // The executable's entry has no name of its own; the kernel knows it.
  if (map->l_name == nullptr || map->l_name[0] == '\0') return ExecutablePath(path);
  if (map->l_name[0] == '/') {
    *path = map->l_name;
    return Q7M_ERROR_SUCCESS;
  }
  // A module loaded by a relative name is recorded by that name.
  std::unique_ptr<char, decltype(&free)> full(realpath(map->l_name, nullptr), &free);
  *path = full ? full.get() : map->l_name;
  return Q7M_ERROR_SUCCESS;
}

}  // namespace q7m::platform
