// Finding the INI file a profile reads.
#include <strings.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "module_location.h"
#include "q7m/common/path_util.h"
#include "q7m/common/profile.h"

namespace q7m {

namespace {

// `dir`/`name` when it exists; else the entry of `dir` whose name equals
// `name` without regard to case (the smallest such, so the choice does not
// depend on directory order); else "".
std::string FindInDirectory(const std::string& dir, const std::string& name) {
  std::string exact = dir.empty() ? name : dir + (IsPathSeparator(dir.back()) ? "" : "/") + name;
  if (PathExists(exact)) return exact;

  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  std::string best;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (strcasecmp(entry.c_str(), name.c_str()) == 0 && (best.empty() || entry < best))
      best = entry;
  }
  if (best.empty()) return {};
  return dir.empty() ? best : dir + (IsPathSeparator(dir.back()) ? "" : "/") + best;
}

}  // namespace

bool Profile::Open(const char* iniName) {
  std::string name = iniName != nullptr && *iniName != '\0' ? iniName : ModuleBaseName(nullptr);
  if (name.empty()) {
    path_.clear();
    return false;
  }
  if (!PathHasExtension(name)) name += ".INI";
  return Locate(name);
}

bool Profile::OpenForModule() {
  std::string name = ModuleBaseName(module_);
  if (name.empty()) {
    path_.clear();
    return false;
  }
  return Locate(name + ".INI");
}

bool Profile::Locate(const std::string& iniName) {
  path_.clear();
  std::string found;
  if (PathHasDirectory(iniName)) {
    std::string native = PathToNative(iniName);
    found = FindInDirectory(PathDirectory(native), PathFilePart(native));
  } else {
    for (const std::string& dir :
         {CurrentDirectory(), ModuleDirectory(nullptr), ModuleDirectory(module_)}) {
      if (dir.empty()) continue;
      found = FindInDirectory(dir, iniName);
      if (!found.empty()) break;
    }
  }
  if (found.empty()) return false;
  // Kept as a full path: a later change of the current directory must not
  // move the profile to another file.
  path_ = FullPathOf(found);
  return !path_.empty();
}

}  // namespace q7m
