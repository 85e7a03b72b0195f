// libFuzzer target: .reg parsing on arbitrary bytes (UTF-16 and UTF-8),
// with a consumer that checks what the parser promises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "q7m/platform_sys.h"
#include "reg_text.h"

namespace {

class CheckingSink : public q7m::platform::RegEditSink {
 public:
  void OnKey(uint32_t root, std::string_view subKey) override { CheckKey(root, subKey); }
  void OnDeleteKey(uint32_t root, std::string_view subKey) override { CheckKey(root, subKey); }
  void OnValue(std::string_view, uint32_t type, std::string_view data) override {
    if (type == Q7M_REG_DWORD && data.size() != 4) __builtin_trap();
    if (type == Q7M_REG_SZ && (data.empty() || data.back() != '\0')) __builtin_trap();
    if (type != Q7M_REG_DWORD && type != Q7M_REG_SZ) __builtin_trap();
  }
  void OnDeleteValue(std::string_view) override {}

 private:
  static void CheckKey(uint32_t root, std::string_view subKey) {
    if (root < Q7M_HKEY_CLASSES_ROOT || root > Q7M_HKEY_USERS) __builtin_trap();
    // Normalised: no empty parts.
    if (!subKey.empty() && (subKey.front() == '\\' || subKey.back() == '\\')) __builtin_trap();
    if (subKey.find("\\\\") != std::string_view::npos) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  std::string text = q7m::platform::RegFileTextToUtf8(raw);
  CheckingSink sink;
  q7m::platform::ParseRegText(text, &sink);
  // Also as if the header were there, so the body parser is reached.
  q7m::platform::ParseRegText("REGEDIT4\n" + text, &sink);
  return 0;
}
