// The scenario file is read with the platform's private-profile reader, so
// it follows the same INI rules as every other configuration file of the
// system (case-insensitive names, first match wins, ';' comments).
#include <vector>

#include "q7m/platform_sys.h"
#include "scenario.h"

namespace q7msim {

namespace {
// Returned for a key that is missing; no INI value contains these bytes.
constexpr const char kAbsent[] = "\x01q7m-sim-absent\x01";
// Room for a reply fault of 4096 bytes written in hexadecimal.
constexpr uint32_t kValueCapacity = 16384;
}  // namespace

ProfileReader FileProfileReader(const std::string& path) {
  return [path](const std::string& section, const std::string& key, std::string* value) {
    std::vector<char> buffer(kValueCapacity);
    uint32_t n = Q7M_GetPrivateProfileString(section.c_str(), key.c_str(), kAbsent, buffer.data(),
                                             kValueCapacity, path.c_str());
    std::string text(buffer.data(), n);
    if (text == kAbsent) return false;
    *value = text;
    return true;
  };
}

}  // namespace q7msim
