// Run-time library loading by base name: "X" is libX.so, looked for first
// beside the module that asks (so a library finds its companions in its own
// directory, installed or in the build tree), then in the system's order.
#include <dlfcn.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "module_path.h"
#include "q7m/platform_sys.h"

namespace {

bool TakenAsGiven(std::string_view name) {
  constexpr std::string_view kSuffix = ".so";
  return name.find('/') != std::string_view::npos ||
         (name.size() >= kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

Q7M_HMODULE Open(const std::string& file) {
  Q7M_HMODULE module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) Q7M_SetLastError(Q7M_ERROR_MOD_NOT_FOUND);
  return module;
}

}  // namespace

extern "C" {

Q7M_EXPORT Q7M_HMODULE Q7M_API Q7M_LoadLibrary(const char* name, const void* anchor) {
  if (name == nullptr || *name == '\0') {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string_view given = name;
  if (TakenAsGiven(given)) return Open(std::string(given));

  std::string file = "lib" + std::string(given) + ".so";
  std::string anchorPath;
  if (q7m::platform::ModulePathOf(anchor, &anchorPath) == Q7M_ERROR_SUCCESS) {
    size_t slash = anchorPath.rfind('/');
    if (slash != std::string::npos) {
      std::string beside = anchorPath.substr(0, slash + 1) + file;
      // A library present beside the caller is the one meant; if it cannot
      // be loaded, falling back to another copy elsewhere would hide that.
      if (IsFile(beside)) return Open(beside);
    }
  }
  return Open(file);
}

Q7M_EXPORT void* Q7M_API Q7M_GetProcAddress(Q7M_HMODULE module, const char* symbol) {
  if (module == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (symbol == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dlerror();
  void* address = dlsym(module, symbol);
  if (address == nullptr) Q7M_SetLastError(Q7M_ERROR_PROC_NOT_FOUND);
  return address;
}

Q7M_EXPORT int Q7M_API Q7M_FreeLibrary(Q7M_HMODULE module) {
  if (module == nullptr || dlclose(module) != 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return 0;
  }
  return 1;
}

}  // extern "C"
