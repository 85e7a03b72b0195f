#include "registry_reference.h"

#include <strings.h>
#include <string>
#include <string_view>

#include "q7m/platform_sys.h"

namespace q7m {

namespace {

struct RootName {
  const char* name;
  uint32_t root;
};
// In this order: the first whose name begins the reference is taken.
constexpr RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", Q7M_HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", Q7M_HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", Q7M_HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", Q7M_HKEY_USERS},
};

}  // namespace

bool QueryRegistryReference(const char* reference, uint32_t* type, void* data, uint32_t* size) {
  if (reference == nullptr) return false;
  std::string_view text = reference;
  for (const RootName& r : kRoots) {
    std::string_view name = r.name;
    if (text.size() < name.size() || strncasecmp(text.data(), r.name, name.size()) != 0) continue;
    // The root name and the one separator after it go; the rest splits at
    // its last backslash into the key path and the value name (no
    // backslash: a value of the root key itself).
    std::string_view rest = text.substr(name.size());
    if (!rest.empty()) rest.remove_prefix(1);
    size_t split = rest.rfind('\\');
    std::string subKey(split == std::string_view::npos ? std::string_view()
                                                       : rest.substr(0, split));
    std::string valueName(split == std::string_view::npos ? rest : rest.substr(split + 1));
    return Q7M_RegQueryValue(r.root, subKey.c_str(), valueName.c_str(), type, data, size) ==
           Q7M_ERROR_SUCCESS;
  }
  return false;
}

}  // namespace q7m
