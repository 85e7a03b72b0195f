// The profile reader: finds an INI file and reads text, integer, switch and
// file-path values from it; any key may be redirected to the registry with a
// key named "REG" + key.
#pragma once

#include <cstdint>
#include <string>

namespace q7m {

class Profile {
 public:
  // `moduleAnchor`: an address inside the library that owns the profile
  // (its directory is searched and $DLLPATH names it); null: the executable.
  explicit Profile(const void* moduleAnchor) : module_(moduleAnchor) {}

  // Finds the INI file named `iniName` (".INI" appended when it has no dot;
  // null or empty: the executable's base name + ".INI"). A name with a path
  // separator ('/' or '\\') is taken as a path; otherwise the current
  // directory, the executable's directory and the module's directory are
  // searched in that order. In each place the exact name wins; otherwise a
  // name differing only in case is taken (INI names come from a system whose
  // file names ignore case).
  bool Open(const char* iniName);
  // Like Open with the module's own base name + ".INI" (the port driver's way).
  bool OpenForModule();
  bool IsOpen() const { return !path_.empty(); }
  // Full path of the INI file in use (empty when none was found).
  const std::string& path() const { return path_; }

  // Length of the text placed in `buffer` (always zero-terminated).
  uint32_t GetString(const char* section, const char* key, const char* defaultValue, char* buffer,
                     uint32_t capacity) const;
  int32_t GetInteger(const char* section, const char* key, int32_t defaultValue) const;
  bool GetSwitch(const char* section, const char* key, bool defaultValue) const;
  // Directory from `pathKey` (with the $EXEPATH/$DLLPATH/$INIPATH macros)
  // and file name from `nameKey`, as a full path of at most `capacity`-1
  // characters; otherwise `defaultValue`. Returns the length placed.
  uint32_t GetFilePath(const char* section, const char* pathKey, const char* nameKey, char* buffer,
                       uint32_t capacity, const char* defaultValue) const;

 private:
  // Finds `iniName` (a path, or a name searched in the three directories).
  bool Locate(const std::string& iniName);
  // Queries the registry value that the key "REG" + `key` of `section`
  // names; false when there is none.
  bool QueryRedirected(const char* section, const char* key, uint32_t* type, void* data,
                       uint32_t* size) const;
  // `value` with a leading $EXEPATH, $DLLPATH or $INIPATH replaced by its
  // directory.
  std::string ExpandMacro(const std::string& value) const;

  const void* module_;
  std::string path_;
};

}  // namespace q7m
