// The registry store: values addressed by root, subkey path and value name,
// kept in .reg files. The files are read anew on every query (they are
// small, and queries are rare: a profile falls back to them only when an
// INI key is missing), so an edited file or a changed Q7M_REGISTRY takes
// effect at once and nothing is cached that could go stale.
//
// The files are applied in order, later ones over earlier ones; deletions
// ([-KEY] and "name"=-) are honoured, so a site file can remove what a
// default file sets.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bounded_file.h"
#include "ini_text.h"
#include "q7m/platform_sys.h"
#include "reg_text.h"

namespace {

using q7m::platform::NamesEqualNoCase;

constexpr const char* kDefaultRegistryFile = "/etc/q7m/registry.reg";

bool IsKnownRoot(uint32_t root) {
  return root == Q7M_HKEY_CLASSES_ROOT || root == Q7M_HKEY_CURRENT_USER ||
         root == Q7M_HKEY_LOCAL_MACHINE || root == Q7M_HKEY_USERS;
}

// `path` is `ancestor` itself or lies below it (normalised paths, no case).
bool IsAtOrBelow(std::string_view path, std::string_view ancestor) {
  if (ancestor.empty()) return true;
  if (path.size() < ancestor.size()) return false;
  if (!NamesEqualNoCase(path.substr(0, ancestor.size()), ancestor)) return false;
  return path.size() == ancestor.size() || path[ancestor.size()] == '\\';
}

// Follows the edits of the files for one key (and optionally one value of
// it), keeping only what the query needs.
class KeyQuery : public q7m::platform::RegEditSink {
 public:
  KeyQuery(uint32_t root, std::string subKey, const char* valueName)
      : root_(root), subKey_(std::move(subKey)), valueName_(valueName ? valueName : "") {}

  void OnKey(uint32_t root, std::string_view subKey) override {
    inTarget_ = root == root_ && NamesEqualNoCase(subKey, subKey_);
    // Opening a key creates its parents, as an import does.
    if (root == root_ && IsAtOrBelow(subKey, subKey_)) keyExists_ = true;
  }
  void OnDeleteKey(uint32_t root, std::string_view subKey) override {
    inTarget_ = false;
    if (root == root_ && IsAtOrBelow(subKey_, subKey)) {
      keyExists_ = false;
      valueFound_ = false;
    }
  }
  void OnValue(std::string_view name, uint32_t type, std::string_view data) override {
    if (!inTarget_ || !NamesEqualNoCase(name, valueName_)) return;
    valueFound_ = true;
    type_ = type;
    data_.assign(data);
  }
  void OnDeleteValue(std::string_view name) override {
    if (inTarget_ && NamesEqualNoCase(name, valueName_)) valueFound_ = false;
  }

  bool keyExists() const { return keyExists_ || subKey_.empty(); }
  bool valueFound() const { return valueFound_; }
  uint32_t type() const { return type_; }
  const std::string& data() const { return data_; }

 private:
  uint32_t root_;
  std::string subKey_;
  std::string valueName_;
  bool inTarget_ = false;
  bool keyExists_ = false;
  bool valueFound_ = false;
  uint32_t type_ = Q7M_REG_NONE;
  std::string data_;
};

std::vector<std::string> RegistryFiles() {
  std::vector<std::string> files;
  const char* list = std::getenv("Q7M_REGISTRY");
  if (list == nullptr || *list == '\0') {
    files.emplace_back(kDefaultRegistryFile);
    return files;
  }
  std::string_view rest = list;
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view one = rest.substr(0, colon);
    if (!one.empty()) files.emplace_back(one);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return files;
}

// Missing, unreadable, oversized or header-less files contribute nothing:
// the registry is an optional source of settings, never a reason to fail.
void RunQuery(KeyQuery* query) {
  std::string raw;
  for (const std::string& file : RegistryFiles()) {
    if (q7m::platform::ReadBoundedFile(file.c_str(), q7m::platform::kMaxConfigFileBytes, &raw) !=
        Q7M_ERROR_SUCCESS) {
      continue;
    }
    q7m::platform::ParseRegText(q7m::platform::RegFileTextToUtf8(raw), query);
  }
}

uint32_t Fail(uint32_t code) {
  Q7M_SetLastError(code);
  return code;
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_RegQueryValue(uint32_t root, const char* subKey,
                                              const char* valueName, uint32_t* type, void* data,
                                              uint32_t* size) {
  if (!IsKnownRoot(root)) return Fail(Q7M_ERROR_INVALID_HANDLE);
  if (data != nullptr && size == nullptr) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  KeyQuery query(root, q7m::platform::NormaliseRegSubKey(subKey ? subKey : ""), valueName);
  RunQuery(&query);
  if (!query.keyExists() || !query.valueFound()) return Fail(Q7M_ERROR_FILE_NOT_FOUND);

  const std::string& bytes = query.data();
  uint32_t needed = static_cast<uint32_t>(bytes.size());
  if (type != nullptr) *type = query.type();
  if (size == nullptr) return Q7M_ERROR_SUCCESS;
  uint32_t room = *size;
  *size = needed;
  if (data == nullptr) return Q7M_ERROR_SUCCESS;
  if (room < needed) return Fail(Q7M_ERROR_MORE_DATA);
  std::memcpy(data, bytes.data(), needed);
  return Q7M_ERROR_SUCCESS;
}

Q7M_EXPORT int Q7M_API Q7M_RegKeyExists(uint32_t root, const char* subKey) {
  if (!IsKnownRoot(root)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return 0;
  }
  KeyQuery query(root, q7m::platform::NormaliseRegSubKey(subKey ? subKey : ""), nullptr);
  RunQuery(&query);
  if (!query.keyExists()) {
    Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return 1;
}

}  // extern "C"
