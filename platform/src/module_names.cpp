// The file name and base name of a loaded module. The base name is how a
// library names its INI file and INI section (libPDLNK.so reads PDLNK.INI).
#include <string>
#include <string_view>

#include "module_path.h"
#include "q7m/platform_sys.h"
#include "text_out.h"

namespace {

// "libX.so", "libX.so.1.2" -> "X"; "prog" -> "prog"; "prog.bin" -> "prog".
// The "lib" prefix is dropped only from shared objects, so a program named
// "library" keeps its name.
std::string_view BaseNameOf(std::string_view path) {
  size_t slash = path.rfind('/');
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t so = file.find(".so");
  while (so != std::string_view::npos) {
    size_t after = so + 3;
    if (after == file.size() || file[after] == '.') break;
    so = file.find(".so", so + 1);
  }
  if (so != std::string_view::npos && so > 0) {
    file = file.substr(0, so);
    if (file.size() > 3 && file.substr(0, 3) == "lib") file.remove_prefix(3);
    return file;
  }
  size_t dot = file.rfind('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return file;
}

// The module's path, or the part of it `pick` chooses, cut to the caller's
// buffer; an empty text and the error when the address is in no module.
template <typename Pick>
uint32_t CopyModuleName(const void* address, char* buffer, uint32_t size, Pick pick) {
  std::string path;
  const uint32_t rc = q7m::platform::ModulePathOf(address, &path);
  if (rc != Q7M_ERROR_SUCCESS) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    Q7M_SetLastError(rc);
    return 0;
  }
  return q7m::platform::CopyTextCut(pick(path), buffer, size);
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_GetModuleFileName(const void* address, char* buffer,
                                                  uint32_t size) {
  return CopyModuleName(address, buffer, size,
                        [](const std::string& path) { return std::string_view(path); });
}

Q7M_EXPORT uint32_t Q7M_API Q7M_GetModuleBaseName(const void* address, char* buffer,
                                                  uint32_t size) {
  return CopyModuleName(address, buffer, size,
                        [](const std::string& path) { return BaseNameOf(path); });
}

}  // extern "C"
